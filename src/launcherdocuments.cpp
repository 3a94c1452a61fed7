// Reading and writing the two XML documents that carry the launcher state: the
// update list and config.xml. Both share one vocabulary and one reader.

#include "launcherstate.h"

#include "documentwriter.h"
#include "messages.h"
#include "partialfile.h"

#include <QFile>

#include <array>
#include <cstring>

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
    return ContentCheck{attributeBytes(node, "size"), attributeBytes(node, "sha256")};
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
enum FileAttribute { Name, Function, Value, Cmd, InstalledVersion, LastVersion, Size, Sha256, Count };
constexpr const char *fileAttributeNames[Count] = {
    "name", "function", "value", "cmd", "installedVersion", "lastVersion", "size", "sha256"};

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

void readServerFile(const pugi::xml_node &element, ServerEntry &server)
{
    const std::array<pugi::xml_attribute, Count> attributes = fileAttributes(element);
    const auto bytes = [&attributes](FileAttribute which) { return QByteArray(attributes[which].value()); };
    const QByteArray name = bytes(Name);
    FileEntry &file = fileNamed(server, name);
    file.name = name;
    file.function = bytes(Function);
    file.value = bytes(Value);
    file.cmd = bytes(Cmd);
    if (attributes[InstalledVersion])
        file.installedVersion = bytes(InstalledVersion);
    file.lastVersion = bytes(LastVersion);
    file.check = ContentCheck{bytes(Size), bytes(Sha256)};
}

void readServers(const pugi::xml_node &servers, LauncherState &state)
{
    for (const pugi::xml_node &element : servers.children()) {
        // The id keeps its low 16 bits: "-1" is server 65535, "65537" is server 1.
        const auto id = static_cast<quint16>(element.attribute("id").as_int());
        ServerEntry &server = state.servers[id];
        server.id = id;
        server.name = attributeBytes(element, "name");
        server.executable = attributeBytes(element, "executable");
        for (const pugi::xml_node &file : element.children())
            readServerFile(file, server);
    }
}

bool parseDocument(const char *text, pugi::xml_document &document, QWidget *window)
{
    if (document.load_string(text))
        return true;
    showUnreadableListMessage(window);
    return false;
}

void mergeParsed(const pugi::xml_document &document, LauncherState &state)
{
    state.downloadPath = attributeBytes(document.child("download"), "path");
    readLauncher(document.child("launcher"), state);
    readImages(document.child("images"), state);
    readServers(document.child("servers"), state);
}

// Unreadable digits count as no serial: the next signed list is then accepted on
// its signature and expiry alone.
std::optional<quint64> readAcceptedSerial(const pugi::xml_document &document)
{
    const pugi::xml_attribute attribute = document.child("signedList").attribute("serial");
    bool ok = false;
    const quint64 serial = QByteArray(attribute.value()).toULongLong(&ok);
    return attribute && ok ? std::optional<quint64>(serial) : std::nullopt;
}

bool writesSameDocument(const LauncherState &state, const QByteArray &contents)
{
    int compared = 0;
    bool same = true;
    writeDocument(state, DocumentKind::Config, [&](const QByteArray &piece) {
        same =
            same && contents.size() - compared >= piece.size() &&
            std::memcmp(contents.constData() + compared, piece.constData(), std::size_t(piece.size())) == 0;
        compared += piece.size();
    });
    return same && compared == contents.size();
}

} // namespace

void showUnreadableListMessage(QWidget *parent)
{
    showErrorMessage(parent, QString::fromLatin1("N\xe3o foi poss\xedvel ler a lista de atualiza\xe7\xf5"
                                                 "es, por favor contate o suporte"));
}

bool LauncherState::mergeDocument(const char *text)
{
    pugi::xml_document document;
    if (!parseDocument(text, document, window))
        return false;
    mergeParsed(document, *this);
    saveConfig();
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
    const std::unique_ptr<PartialFile> file = PartialFile::create(QFile::encodeName(configFileName));
    if (!file)
        return false;
    writeDocument(*this, DocumentKind::Config, [&file](const QByteArray &piece) {
        file->write(piece.constData(), static_cast<std::size_t>(piece.size()));
    });
    return file->commit(true);
}

bool LauncherState::loadConfig()
{
    QFile file(configFileName);
    if (!file.open(QIODevice::ReadOnly)) // binary: CR LF files load like any other
        return saveConfig();

    const qint64 size = file.size();
    const QByteArray contents = file.readAll();
    if (contents.size() != size)
        return false;

    pugi::xml_document document;
    if (!parseDocument(contents.constData(), document, window)) {
        // Kept for support before the next save replaces the broken file.
        replaceFileContents(badConfigFileName, contents);
        return false;
    }
    mergeParsed(document, *this);
    acceptedListSerial = readAcceptedSerial(document);
    // Most starts find config.xml exactly as the launcher wrote it; rewriting the
    // same bytes would only cost time and wear.
    if (!writesSameDocument(*this, contents))
        saveConfig();
    return true;
}
