// Reading and writing the two XML documents that carry the launcher state: the
// update list and config.xml. Both share one vocabulary and one reader.

#include "state/launcherstate.h"

#include "state/documentwriter.h"
#include "transfer/folderfile.h"
#include "messages.h"
#include "transfer/partialfile.h"

#include <QFile>
#include <QFileInfo>

#include <array>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include <pugixml.hpp>

namespace {

const QString configFileName = QStringLiteral("config.xml");
const QString badConfigFileName = QStringLiteral("config.xml.bad");

QByteArray attributeBytes(const pugi::xml_node &node, const char *name)
{
    return QByteArray(node.attribute(name).value());
}

// Installed versions are taken only from documents that carry them, so the update
// list, which does not, leaves the local ones alone.
void takeIfPresent(const pugi::xml_node &node, const char *name, QByteArray &field)
{
    const pugi::xml_attribute attribute = node.attribute(name);
    if (attribute)
        field = QByteArray(attribute.value());
}

ContentCheck readCheck(const pugi::xml_node &node)
{
    return ContentCheck{attributeBytes(node, "size"),       attributeBytes(node, "sha256"),
                        attributeBytes(node, "chunks"),     attributeBytes(node, "chunkDeltas"),
                        attributeBytes(node, "deltaFrom"),  attributeBytes(node, "deltaSize"),
                        attributeBytes(node, "chunkPages"), attributeBytes(node, "pack"),
                        attributeBytes(node, "packOffset"), attributeBytes(node, "packSize"),
                        attributeBytes(node, "chunkPack"),  attributeBytes(node, "chunkPackSize")};
}

void readLauncher(const pugi::xml_node &launcher, LauncherState &state)
{
    takeIfPresent(launcher, "installedVersion", state.launcherInstalledVersion);
    state.launcherLastVersion = attributeBytes(launcher, "lastVersion");
    state.launcherBuildCheck = readCheck(launcher);
    state.launcherFiles.clear();
    state.launcherFileChecks.clear();
    for (const pugi::xml_node &file : launcher.children()) {
        const QByteArray name = attributeBytes(file, "name");
        state.launcherFiles.push_back(name);
        state.launcherFileChecks[name] = readCheck(file);
    }
}

void readImages(const pugi::xml_node &images, LauncherState &state)
{
    takeIfPresent(images, "installedVersion", state.imagesInstalledVersion);
    state.imagesLastVersion = attributeBytes(images, "lastVersion");
    state.images.clear();
    for (const pugi::xml_node &file : images.children()) {
        ImageEntry image{attributeBytes(file, "name"), attributeBytes(file, "href"), readCheck(file)};
        state.images.emplace(image.name, std::move(image)); // the first of two equal names stays
    }
}

// The attributes of a file element, found in one pass over them; the first of
// two equal attributes counts, as it does for pugixml's lookup by name. A list
// of a hundred thousand files makes the lookups by name add up.
enum FileAttribute {
    Name,
    Function,
    Value,
    Cmd,
    InstalledVersion,
    LastVersion,
    Size,
    Sha256,
    ChunkIndexSha256,
    ChunkDeltasSha256,
    DeltaFrom,
    DeltaSize,
    ChunkPagesSha256,
    Pack,
    PackOffset,
    PackSize,
    ChunkPack,
    ChunkPackSize,
    Dropped,
    Count
};
constexpr const char *fileAttributeNames[Count] = {
    "name",       "function", "value",       "cmd",           "installedVersion", "lastVersion", "size",
    "sha256",     "chunks",   "chunkDeltas", "deltaFrom",     "deltaSize",        "chunkPages",  "pack",
    "packOffset", "packSize", "chunkPack",   "chunkPackSize", "dropped"};
static_assert(fileAttributeNames[Count - 1] != nullptr, "an attribute without its name");

std::array<pugi::xml_attribute, Count> fileAttributes(const pugi::xml_node &element)
{
    std::array<pugi::xml_attribute, Count> found{};
    for (const pugi::xml_attribute &attribute : element.attributes()) {
        for (int i = 0; i < Count; ++i) {
            if (!found[i] && std::strcmp(attribute.name(), fileAttributeNames[i]) == 0) {
                found[i] = attribute;
                break;
            }
        }
    }
    return found;
}

// Files arrive sorted from config.xml, which writes them so; each then goes to
// the end of the map without a search.
FileEntry &fileNamed(ServerEntry &server, const QByteArray &name)
{
    if (server.files.empty() || server.files.rbegin()->first < name)
        return server.files.emplace_hint(server.files.end(), name, FileEntry())->second;
    return server.files[name];
}

void readServerFile(const pugi::xml_node &element, ServerEntry &server, DocumentKind kind)
{
    const std::array<pugi::xml_attribute, Count> attributes = fileAttributes(element);
    const auto bytes = [&attributes](FileAttribute which) { return QByteArray(attributes[which].value()); };
    const QByteArray name = bytes(Name);
    FileEntry &file = fileNamed(server, name);
    file.name = name;
    file.function = bytes(Function);
    file.value = bytes(Value);
    file.cmd = bytes(Cmd);
    file.lastVersion = bytes(LastVersion);
    // An installed file's two versions are mostly the same text: one copy serves
    // both, which spares a large config.xml a hundred thousand allocations.
    if (attributes[InstalledVersion])
        file.installedVersion =
            std::strcmp(attributes[InstalledVersion].value(), attributes[LastVersion].value()) == 0
                ? file.lastVersion
                : bytes(InstalledVersion);
    file.check =
        ContentCheck{bytes(Size),       bytes(Sha256),    bytes(ChunkIndexSha256), bytes(ChunkDeltasSha256),
                     bytes(DeltaFrom),  bytes(DeltaSize), bytes(ChunkPagesSha256), bytes(Pack),
                     bytes(PackOffset), bytes(PackSize),  bytes(ChunkPack),        bytes(ChunkPackSize)};
    // config.xml remembers what the last list dropped; a list names what it has.
    file.dropped = kind == DocumentKind::Config && bytes(Dropped) == "1";
}

void readServers(const pugi::xml_node &servers, LauncherState &state, DocumentKind kind)
{
    std::set<quint16> namedByList;
    for (const pugi::xml_node &element : servers.children()) {
        // The id keeps its low 16 bits: "-1" is server 65535, "65537" is server 1.
        const auto id = static_cast<quint16>(element.attribute("id").as_int());
        ServerEntry &server = state.servers[id];
        // Of a server the list names, only the files it names are current; two
        // elements of one id name their files together.
        if (kind == DocumentKind::UpdateList && namedByList.insert(id).second) {
            for (auto &[name, file] : server.files)
                file.dropped = true;
        }
        server.id = id;
        server.name = attributeBytes(element, "name");
        server.executable = attributeBytes(element, "executable");
        for (const pugi::xml_node &file : element.children())
            readServerFile(file, server, kind);
    }
}

void mergeParsed(const pugi::xml_document &document, LauncherState &state, DocumentKind kind)
{
    state.downloadPath = attributeBytes(document.child("download"), "path");
    if (kind == DocumentKind::UpdateList) {
        // Each one is tried in turn where a file fails: thousands would keep a
        // failing install going for hours.
        constexpr std::size_t maximumMirrors = 8;
        state.mirrorPaths.clear();
        for (const pugi::xml_node &mirror : document.children("mirror"))
            if (state.mirrorPaths.size() < maximumMirrors)
                state.mirrorPaths.push_back(attributeBytes(mirror, "path"));
    }
    readLauncher(document.child("launcher"), state);
    readImages(document.child("images"), state);
    readServers(document.child("servers"), state, kind);
}

// Unreadable digits count as no serial: the next signed list is then accepted on
// its signature and expiry alone.
std::optional<quint64> readAcceptedSerial(const pugi::xml_document &document, const char *name = "serial")
{
    const pugi::xml_attribute attribute = document.child("signedList").attribute(name);
    bool ok = false;
    const quint64 serial = QByteArray(attribute.value()).toULongLong(&ok);
    return attribute && ok ? std::optional<quint64>(serial) : std::nullopt;
}

// Compares what the state would write with the file, piece by piece. The file's
// text is not at hand any more: it was parsed in place.
bool fileHoldsDocument(const LauncherState &state, QFile &file)
{
    if (!file.seek(0))
        return false;
    QByteArray onDisk;
    bool same = true;
    writeDocument(state, DocumentKind::Config, [&](const QByteArray &piece) {
        if (!same)
            return;
        onDisk.resize(piece.size());
        same = file.read(onDisk.data(), piece.size()) == piece.size() && onDisk == piece;
    });
    return same && file.atEnd();
}

// A config.xml that exists but cannot be opened is mostly held for a moment by
// another program (an antivirus, a backup): it is tried again for about a second.
bool openExistingConfig(QFile &file)
{
    constexpr int attempts = 20;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        // Never through a link (any file of the machine could be copied into
        // config.xml.bad) nor from a FIFO; unbuffered, as it is read in large pieces.
        if (openRegularFile(file, QIODevice::ReadOnly | QIODevice::Unbuffered))
            return true;
        if (attempt < attempts)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

} // namespace

bool LauncherState::mergeDocument(const char *text, std::optional<quint64> signedSerial)
{
    pugi::xml_document document;
    if (!document.load_string(text))
        return false;
    mergeParsed(document, *this, DocumentKind::UpdateList);
    if (signedSerial)
        acceptedListSerial = signedSerial;
    return true;
}

QByteArray LauncherState::document(DocumentKind kind) const
{
    QByteArray bytes;
    writeDocument(*this, kind, [&bytes](const QByteArray &piece) { bytes += piece; });
    return bytes;
}

bool LauncherState::saveConfig() const
{
    if (configUnreadable)
        return false;
    const std::unique_ptr<PartialFile> file = PartialFile::create(QFile::encodeName(configFileName));
    if (!file)
        return false;
    writeDocument(*this, DocumentKind::Config, [&file](const QByteArray &piece) {
        file->write(piece.constData(), static_cast<std::size_t>(piece.size()));
    });
    return file->commit(true);
}

ConfigLoad LauncherState::loadConfig()
{
    // Binary: CR LF files load like any other.
    QFile file(configFileName);
    const QFileInfo existing(configFileName);
    if (!existing.exists() && !existing.isSymLink())
        return ConfigLoad::Missing;
    QByteArray contents;
    if (!openExistingConfig(file) || (contents = file.readAll()).size() != file.size()) {
        // Every installed server is in it: it is never replaced by the defaults.
        configUnreadable = true;
        return ConfigLoad::Locked;
    }

    // Parsed in place, so that a large config.xml is not copied once more. The
    // launcher writes no NUL byte: one means the file is damaged, and parsing up to
    // it would silently drop what follows.
    pugi::xml_document document;
    if (contents.contains('\0') ||
        !document.load_buffer_inplace(contents.data(), std::size_t(contents.size()), pugi::parse_default,
                                      pugi::encoding_utf8)) {
        // Kept for support before the next save replaces the broken file.
        if (file.seek(0))
            replaceFileContents(badConfigFileName, file.readAll(), true);
        return ConfigLoad::Damaged;
    }
    mergeParsed(document, *this, DocumentKind::Config);
    acceptedListSerial = readAcceptedSerial(document);
    acceptedKeysSerial = readAcceptedSerial(document, "keys");
    // Most starts find config.xml exactly as the launcher wrote it; rewriting the
    // same bytes would only cost time and wear.
    return fileHoldsDocument(*this, file) ? ConfigLoad::Current : ConfigLoad::Outdated;
}
