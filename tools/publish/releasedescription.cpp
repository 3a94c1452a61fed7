#include "releasedescription.h"

#include <QFile>
#include <QRegularExpression>

namespace {

QByteArrayList words(const QByteArray &value)
{
    const QByteArray simplified = value.simplified();
    return simplified.isEmpty() ? QByteArrayList() : simplified.split(' ');
}

class DescriptionReader
{
public:
    explicit DescriptionReader(const QString &path) : path(path) {}

    std::optional<ReleaseDescription> read(QString &error)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("%1: não foi possível abrir (%2)").arg(path, file.errorString());
            return std::nullopt;
        }
        int lineNumber = 0;
        while (!file.atEnd()) {
            ++lineNumber;
            const QByteArray line = file.readLine().trimmed();
            if (line.isEmpty() || line.startsWith('#'))
                continue;
            const QString problem = line.startsWith('[') ? readSection(line) : readSetting(line);
            if (!problem.isEmpty()) {
                error = QStringLiteral("%1:%2: %3").arg(path).arg(lineNumber).arg(problem);
                return std::nullopt;
            }
        }
        if (release.launcherVersion.isEmpty()) {
            error = QStringLiteral("%1: falta a versão do launcher (version em [launcher])").arg(path);
            return std::nullopt;
        }
        return release;
    }

private:
    QString readSection(const QByteArray &line)
    {
        static const QRegularExpression serverSection(QStringLiteral("^\\[server\\s+(\\d+)\\]$"));
        const QString text = QString::fromUtf8(line);
        section = text;
        if (text == QLatin1String("[launcher]") || text == QLatin1String("[images]"))
            return QString();
        const QRegularExpressionMatch match = serverSection.match(text);
        bool valid = false;
        const uint id = match.hasMatch() ? match.captured(1).toUInt(&valid) : 0;
        if (!valid || id > 65535)
            return QStringLiteral("seção desconhecida %1 (use [launcher], [images] ou [server N])").arg(text);
        for (const ServerDescription &server : release.servers) {
            if (server.id == id)
                return QStringLiteral("o servidor %1 aparece duas vezes").arg(id);
        }
        release.servers.push_back(ServerDescription{});
        release.servers.back().id = quint16(id);
        return QString();
    }

    QString readSetting(const QByteArray &line)
    {
        const int equals = line.indexOf('=');
        if (equals < 1)
            return QStringLiteral("esperava \"chave = valor\"");
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();

        if (section == QLatin1String("[launcher]")) {
            if (key == "version")
                release.launcherVersion = value;
            else if (key == "files")
                for (const QByteArray &name : words(value))
                    release.launcherFiles.push_back(name);
            else
                return QStringLiteral("chave desconhecida em [launcher]: %1").arg(QString::fromUtf8(key));
            return QString();
        }
        if (section == QLatin1String("[images]")) {
            release.images.emplace_back(key, value);
            return QString();
        }
        if (release.servers.empty() || !section.startsWith(QLatin1String("[server")))
            return QStringLiteral("configuração fora de uma seção");

        ServerDescription &server = release.servers.back();
        if (key == "name")
            server.name = value;
        else if (key == "executable")
            server.executable = value;
        else if (key == "files")
            for (const QByteArray &pattern : words(value))
                server.filePatterns << QString::fromUtf8(pattern);
        else if (key.startsWith("exec "))
            server.execArgs[key.mid(5).trimmed()] = value;
        else if (key.startsWith("cmd "))
            server.commands[key.mid(4).trimmed()] = value;
        else
            return QStringLiteral("chave desconhecida em %1: %2").arg(section, QString::fromUtf8(key));
        return QString();
    }

    QString path;
    QString section;
    ReleaseDescription release;
};

} // namespace

std::optional<ReleaseDescription> readReleaseDescription(const QString &path, QString &error)
{
    return DescriptionReader(path).read(error);
}
