// Reading and writing the two XML documents that carry the launcher state: the
// update list and config.xml. Both share one vocabulary and one reader.

#include "launcherstate.h"

#include "messages.h"
#include "partialfile.h"

#include <QFile>

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

void readServerFile(const pugi::xml_node &element, ServerEntry &server)
{
    const QByteArray name = attributeBytes(element, "name");
    FileEntry &file = server.files[name];
    file.name = name;
    file.function = attributeBytes(element, "function");
    file.value = attributeBytes(element, "value");
    file.cmd = attributeBytes(element, "cmd");
    takeIfPresent(element, "installedVersion", file.installedVersion);
    file.lastVersion = attributeBytes(element, "lastVersion");
    file.check = readCheck(element);
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

void setAttribute(pugi::xml_node &node, const char *name, const QByteArray &value)
{
    node.append_attribute(name).set_value(value.constData());
}

// Written only where the list gave them, so that a config.xml from a list without
// them stays what it always was.
void setCheck(pugi::xml_node &node, const ContentCheck &check)
{
    if (!check.size.isEmpty())
        setAttribute(node, "size", check.size);
    if (!check.sha256.isEmpty())
        setAttribute(node, "sha256", check.sha256);
}

pugi::xml_document buildDocument(const LauncherState &state, DocumentKind kind)
{
    const bool config = kind == DocumentKind::Config;
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.set_name("xml");
    declaration.append_attribute("version").set_value("1.0");
    if (config)
        document.append_child("tsqp").append_attribute("version").set_value("1.0");

    pugi::xml_node download = document.append_child("download");
    setAttribute(download, "path", state.downloadPath);

    pugi::xml_node launcher = document.append_child("launcher");
    if (config)
        setAttribute(launcher, "installedVersion", state.launcherInstalledVersion);
    setAttribute(launcher, "lastVersion", state.launcherLastVersion);
    setCheck(launcher, state.launcherBuildCheck);
    for (const QByteArray &name : state.launcherFiles) {
        pugi::xml_node file = launcher.append_child("file");
        setAttribute(file, "name", name);
        const auto check = state.launcherFileChecks.find(name);
        if (check != state.launcherFileChecks.end())
            setCheck(file, check->second);
    }

    pugi::xml_node images = document.append_child("images");
    if (config)
        setAttribute(images, "installedVersion", state.imagesInstalledVersion);
    setAttribute(images, "lastVersion", state.imagesLastVersion);
    for (const auto &[name, image] : state.images) {
        pugi::xml_node file = images.append_child("file");
        setAttribute(file, "name", image.name);
        setAttribute(file, "href", image.href);
        setCheck(file, image.check);
    }

    pugi::xml_node servers = document.append_child("servers");
    for (const auto &[id, server] : state.servers) {
        pugi::xml_node element = servers.append_child("server");
        element.append_attribute("id").set_value(static_cast<unsigned>(server.id));
        setAttribute(element, "name", server.name);
        setAttribute(element, "executable", server.executable);
        for (const auto &[name, entry] : server.files) {
            pugi::xml_node file = element.append_child("file");
            setAttribute(file, "name", entry.name);
            setAttribute(file, "function", entry.function);
            setAttribute(file, "value", entry.value);
            setAttribute(file, "cmd", entry.cmd);
            if (config)
                setAttribute(file, "installedVersion", entry.installedVersion);
            setAttribute(file, "lastVersion", entry.lastVersion);
            setCheck(file, entry.check);
        }
    }
    if (config && state.acceptedListSerial)
        document.append_child("signedList")
            .append_attribute("serial")
            .set_value(static_cast<unsigned long long>(*state.acceptedListSerial));
    return document;
}

class ByteArrayWriter : public pugi::xml_writer
{
public:
    void write(const void *data, size_t size) override
    {
        bytes.append(static_cast<const char *>(data), static_cast<int>(size));
    }

    QByteArray bytes;
};

// Streams the document into config.xml's partial file, without a copy in memory.
class PartialFileWriter : public pugi::xml_writer
{
public:
    explicit PartialFileWriter(PartialFile &file) : file(file) {}

    void write(const void *data, size_t size) override { file.write(static_cast<const char *>(data), size); }

private:
    PartialFile &file;
};

void saveInLayout(const pugi::xml_document &document, pugi::xml_writer &writer)
{
    document.save(writer, "\t", pugi::format_indent, pugi::encoding_auto);
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
    ByteArrayWriter writer;
    saveInLayout(buildDocument(*this, kind), writer);
    return writer.bytes;
}

bool LauncherState::saveConfig() const
{
    const std::unique_ptr<PartialFile> file = PartialFile::create(QFile::encodeName(configFileName));
    if (!file)
        return false;
    PartialFileWriter writer(*file);
    saveInLayout(buildDocument(*this, DocumentKind::Config), writer);
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
    saveConfig();
    return true;
}
