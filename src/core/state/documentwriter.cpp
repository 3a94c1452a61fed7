#include "state/documentwriter.h"

namespace {

constexpr int pieceSize = 64 * 1024;

class LayoutWriter
{
public:
    explicit LayoutWriter(const std::function<void(const QByteArray &)> &sink) : sink(sink)
    {
        text.reserve(pieceSize + 4096);
    }

    void declaration() { text.append("<?xml version=\"1.0\"?>\n"); }

    // "<name", indented by depth tabs; attributes follow, then one of the ends.
    void open(int depth, const char *name)
    {
        text.append(depth, '\t');
        text.append('<');
        text.append(name);
    }

    void attribute(const char *name, const QByteArray &value)
    {
        text.append(' ');
        text.append(name);
        text.append("=\"");
        appendEscaped(value);
        text.append('"');
    }

    // Ends the start tag: " />" without children, or ">", the children and the
    // end tag.
    template <typename WriteChildren>
    void endElement(int depth, const char *name, bool hasChildren, const WriteChildren &writeChildren)
    {
        if (!hasChildren) {
            endEmpty();
            return;
        }
        text.append(">\n");
        writeChildren();
        text.append(depth, '\t');
        text.append("</");
        text.append(name);
        text.append(">\n");
        flushIfFull();
    }

    void endEmpty()
    {
        text.append(" />\n");
        flushIfFull();
    }

    void finish()
    {
        if (!text.isEmpty())
            sink(text);
        text.clear();
    }

private:
    // Markup characters and control characters become references; every other
    // byte, UTF-8 included, is written as it is. The value ends at a NUL byte, as
    // it would in the reader.
    void appendEscaped(const QByteArray &value)
    {
        const char *plainStart = value.constData();
        for (const char *c = plainStart;; ++c) {
            const auto byte = static_cast<unsigned char>(*c);
            if (byte >= 32 && byte != '&' && byte != '<' && byte != '"')
                continue;
            text.append(plainStart, static_cast<int>(c - plainStart));
            plainStart = c + 1;
            switch (byte) {
            case 0:
                return;
            case '&':
                text.append("&amp;");
                break;
            case '<':
                text.append("&lt;");
                break;
            case '"':
                text.append("&quot;");
                break;
            default:
                text.append("&#");
                text.append(char('0' + byte / 10));
                text.append(char('0' + byte % 10));
                text.append(';');
            }
        }
    }

    void flushIfFull()
    {
        if (text.size() < pieceSize)
            return;
        sink(text);
        text.resize(0); // keeps the capacity
    }

    const std::function<void(const QByteArray &)> &sink;
    QByteArray text;
};

// Only what the list gave, so that a config.xml from a list without them stays
// what it always was. Where a file lies in a pack matters for a download only,
// which the list always gives anew: config.xml does not keep it, nor the pack
// of an update.
void writeCheck(LayoutWriter &writer, const ContentCheck &check, bool config = false)
{
    if (!check.size.isEmpty())
        writer.attribute("size", check.size);
    if (!check.sha256.isEmpty())
        writer.attribute("sha256", check.sha256);
    if (!check.chunkIndexSha256.isEmpty())
        writer.attribute("chunks", check.chunkIndexSha256);
    if (!check.chunkDeltasSha256.isEmpty())
        writer.attribute("chunkDeltas", check.chunkDeltasSha256);
    if (!check.chunkPagesSha256.isEmpty())
        writer.attribute("chunkPages", check.chunkPagesSha256);
    if (!check.deltaFrom.isEmpty())
        writer.attribute("deltaFrom", check.deltaFrom);
    if (!check.deltaSize.isEmpty())
        writer.attribute("deltaSize", check.deltaSize);
    if (!config && !check.packSha256.isEmpty()) {
        writer.attribute("pack", check.packSha256);
        writer.attribute("packOffset", check.packOffset);
        writer.attribute("packSize", check.packSize);
    }
    if (!config && !check.chunkPackSha256.isEmpty()) {
        writer.attribute("chunkPack", check.chunkPackSha256);
        writer.attribute("chunkPackSize", check.chunkPackSize);
    }
}

void writeLauncher(LayoutWriter &writer, const LauncherState &state, bool config)
{
    writer.open(0, "launcher");
    if (config)
        writer.attribute("installedVersion", state.launcherInstalledVersion);
    writer.attribute("lastVersion", state.launcherLastVersion);
    writeCheck(writer, state.launcherBuildCheck);
    writer.endElement(0, "launcher", !state.launcherFiles.empty(), [&] {
        for (const QByteArray &name : state.launcherFiles) {
            writer.open(1, "file");
            writer.attribute("name", name);
            const auto check = state.launcherFileChecks.find(name);
            if (check != state.launcherFileChecks.end())
                writeCheck(writer, check->second);
            writer.endEmpty();
        }
    });
}

void writeImages(LayoutWriter &writer, const LauncherState &state, bool config)
{
    writer.open(0, "images");
    if (config)
        writer.attribute("installedVersion", state.imagesInstalledVersion);
    writer.attribute("lastVersion", state.imagesLastVersion);
    writer.endElement(0, "images", !state.images.empty(), [&] {
        for (const auto &[name, image] : state.images) {
            writer.open(1, "file");
            writer.attribute("name", image.name);
            writer.attribute("href", image.href);
            writeCheck(writer, image.check);
            writer.endEmpty();
        }
    });
}

void writeServer(LayoutWriter &writer, const ServerEntry &server, bool config)
{
    writer.open(1, "server");
    writer.attribute("id", QByteArray::number(server.id));
    writer.attribute("name", server.name);
    writer.attribute("executable", server.executable);
    writer.endElement(1, "server", !server.files.empty(), [&] {
        for (const auto &[name, file] : server.files) {
            writer.open(2, "file");
            writer.attribute("name", file.name);
            writer.attribute("function", file.function);
            writer.attribute("value", file.value);
            writer.attribute("cmd", file.cmd);
            if (config)
                writer.attribute("installedVersion", file.installedVersion);
            writer.attribute("lastVersion", file.lastVersion);
            writeCheck(writer, file.check, config);
            if (config && file.dropped)
                writer.attribute("dropped", QByteArrayLiteral("1"));
            writer.endEmpty();
        }
    });
}

} // namespace

void writeDocument(const LauncherState &state, DocumentKind kind,
                   const std::function<void(const QByteArray &piece)> &sink)
{
    const bool config = kind == DocumentKind::Config;
    LayoutWriter writer(sink);
    writer.declaration();
    if (config) {
        writer.open(0, "tsqp");
        writer.attribute("version", QByteArrayLiteral("1.0"));
        writer.endEmpty();
    }
    writer.open(0, "download");
    writer.attribute("path", state.downloadPath);
    writer.endEmpty();
    for (const QByteArray &mirror : config ? std::vector<QByteArray>() : state.mirrorPaths) {
        writer.open(0, "mirror");
        writer.attribute("path", mirror);
        writer.endEmpty();
    }
    writeLauncher(writer, state, config);
    writeImages(writer, state, config);

    writer.open(0, "servers");
    writer.endElement(0, "servers", !state.servers.empty(), [&] {
        for (const auto &[id, server] : state.servers)
            writeServer(writer, server, config);
    });
    if (config && state.acceptedListSerial) {
        writer.open(0, "signedList");
        writer.attribute("serial", QByteArray::number(*state.acceptedListSerial));
        if (state.acceptedKeysSerial)
            writer.attribute("keys", QByteArray::number(*state.acceptedKeysSerial));
        writer.endEmpty();
    }
    writer.finish();
}
