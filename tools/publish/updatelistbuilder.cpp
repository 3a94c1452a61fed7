#include "updatelistbuilder.h"

#include "chunkpublisher.h"
#include "packpublisher.h"
#include "names.h"
#include "releasedescription.h"
#include "transfer/sha256.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <filesystem>

namespace {

constexpr int versionDigits = 16;

bool addFileContent(Sha256 &hash, const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && hash.addData(file);
}

// Every file below folder, as paths relative to it with "/" separators, sorted.
// Qt passes over a name that is not UTF-8 as if it were not there, and a file
// left out of the list without a word is a broken client for every player: the
// folder is read by the standard library, which sees every name as it is.
std::optional<QStringList> filesBelow(const QString &folder, QString &error)
{
    namespace fs = std::filesystem;
    QStringList names;
    std::error_code failed;
    const fs::path root = fs::u8path(folder.toStdString());
    for (fs::recursive_directory_iterator entry(root, failed), end; !failed && entry != end;
         entry.increment(failed)) {
        std::error_code notAFile; // a dangling link, say
        if (!entry->is_regular_file(notAFile))
            continue;
        const std::string bytes = entry->path().lexically_relative(root).generic_u8string();
        const QString name = QString::fromStdString(bytes);
        if (name.toStdString() != bytes) {
            error = QStringLiteral("clientes/%1: o nome não é UTF-8; renomeie o arquivo")
                        .arg(QString::fromLatin1(QByteArray::fromStdString(bytes).toPercentEncoding("/")));
            return std::nullopt;
        }
        names << name;
    }
    if (failed) {
        error = QStringLiteral("não foi possível ler %1").arg(folder);
        return std::nullopt;
    }
    names.sort();
    return names;
}

// A pattern ending in "/" takes the whole folder; otherwise * and ? match within
// one path segment.
QStringList matchingFiles(const QStringList &available, const QString &pattern)
{
    if (pattern.endsWith(QLatin1Char('/'))) {
        QStringList below;
        for (const QString &path : available) {
            if (path.startsWith(pattern))
                below << path;
        }
        return below;
    }
    return available.filter(QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern)));
}

class ListBuilder
{
public:
    // Absolute, so that the paths below it read the same however the folder was named.
    ListBuilder(const QString &releaseFolder, const QString &previousRelease, QString &error)
        : release(QDir(releaseFolder).absolutePath()), previousRelease(previousRelease), error(error)
    {
    }

    std::optional<QByteArray> build(const QByteArray &baseUrl, const std::vector<QByteArray> &mirrors)
    {
        if (baseUrl.isEmpty() || !baseUrl.endsWith('/')) {
            fail(QStringLiteral("--base-url precisa terminar em \"/\": %1").arg(QString::fromUtf8(baseUrl)));
            return std::nullopt;
        }
        // A mistyped folder would publish no delta without a word.
        if (!previousRelease.isEmpty() && !QDir(previousRelease).exists(QStringLiteral("clientes"))) {
            fail(QStringLiteral("--previous não é uma pasta de versão com clientes/: %1")
                     .arg(previousRelease));
            return std::nullopt;
        }
        for (const QByteArray &mirror : mirrors)
            if (!(mirror.startsWith("http://") || mirror.startsWith("https://")) || !mirror.endsWith('/')) {
                fail(
                    QStringLiteral("--mirror precisa começar com http:// ou https:// e terminar em \"/\": %1")
                        .arg(QString::fromUtf8(mirror)));
                return std::nullopt;
            }
        const std::optional<ReleaseDescription> description =
            readReleaseDescription(release.filePath(QStringLiteral("release.conf")), error);
        if (!description)
            return std::nullopt;

        LauncherState state;
        state.downloadPath = baseUrl;
        state.mirrorPaths = mirrors;
        if (!addLauncher(*description, state) || !addImages(*description, state))
            return std::nullopt;
        for (const ServerDescription &server : description->servers) {
            if (!addServer(server, state))
                return std::nullopt;
        }
        return state.document(DocumentKind::UpdateList);
    }

private:
    bool fail(const QString &problem)
    {
        error = problem;
        return false;
    }

    // The check of a file that present() has found.
    ContentCheck checkOf(const QString &folder, const QByteArray &name)
    {
        return contentCheck(release.filePath(folder + QLatin1Char('/') + QString::fromUtf8(name)))
            .value_or(ContentCheck{});
    }

    bool present(const QString &folder, const QByteArray &name)
    {
        if (!isSafeRelativeName(name))
            return fail(QStringLiteral("nome que o launcher recusa: %1").arg(QString::fromUtf8(name)));
        const QString path = folder + QLatin1Char('/') + QString::fromUtf8(name);
        if (!QFileInfo(release.filePath(path)).isFile())
            return fail(QStringLiteral("arquivo ausente: %1").arg(path));
        return insideRelease(path);
    }

    bool insideRelease(const QString &path)
    {
        if (leadsOutsideRelease(release.path(), release.filePath(path)))
            return fail(QStringLiteral("%1 é um link para fora da pasta da versão; copie o próprio arquivo "
                                       "para a pasta")
                            .arg(path));
        return true;
    }

    bool addLauncher(const ReleaseDescription &description, LauncherState &state)
    {
        state.launcherLastVersion = description.launcherVersion;
        if (!present(QStringLiteral("launcher"), "launcher.exe"))
            return false;
        state.launcherBuildCheck = checkOf(QStringLiteral("launcher"), "launcher.exe");
        for (const QByteArray &name : description.launcherFiles) {
            if (!present(QStringLiteral("launcher"), name))
                return false;
            state.launcherFiles.push_back(name);
            state.launcherFileChecks[name] = checkOf(QStringLiteral("launcher"), name);
        }
        return true;
    }

    // The pictures' version covers their names and contents, so that any new,
    // changed or renamed picture makes players fetch them again.
    bool addImages(const ReleaseDescription &description, LauncherState &state)
    {
        Sha256 hash;
        for (const auto &[name, link] : description.images) {
            if (!present(QStringLiteral("imagens"), name))
                return false;
            if (!state.images.emplace(name, ImageEntry{name, link, checkOf(QStringLiteral("imagens"), name)})
                     .second)
                return fail(QStringLiteral("imagem repetida: %1").arg(QString::fromUtf8(name)));
        }
        for (const auto &[name, image] : state.images) {
            hash.addData(name + '\0');
            addFileContent(hash, release.filePath(QStringLiteral("imagens/") + QString::fromUtf8(name)));
        }
        state.imagesLastVersion = hash.hexResult().left(versionDigits);
        return true;
    }

    bool addServer(const ServerDescription &description, LauncherState &state)
    {
        ServerEntry &server = state.servers[description.id];
        server.id = description.id;
        server.name = description.name;
        server.executable = description.executable;

        // A name the file system does not hold as UTF-8 would be published under
        // other bytes than the players' request, or not at all.
        const std::optional<QStringList> listed =
            filesBelow(release.filePath(QStringLiteral("clientes")), error);
        if (!listed)
            return false;
        const QStringList &available = *listed;
        for (const QString &pattern : description.filePatterns) {
            const QStringList matching = matchingFiles(available, pattern);
            if (matching.isEmpty())
                return fail(QStringLiteral("servidor %1: nada em clientes/ corresponde a %2")
                                .arg(description.id)
                                .arg(pattern));
            for (const QString &path : matching) {
                const QByteArray name = path.toUtf8();
                FileEntry &file = server.files[name];
                file.name = name;
                const std::optional<ContentCheck> check =
                    contentCheck(release.filePath(QStringLiteral("clientes/") + path));
                if (!isSafeRelativeName(name) || !check)
                    return fail(QStringLiteral("não foi possível publicar clientes/%1").arg(path));
                if (!insideRelease(QStringLiteral("clientes/") + path))
                    return false;
                file.lastVersion = check->sha256.left(versionDigits);
                file.check = *check;
                if (check->size.toLongLong() >= chunkedFileThreshold) {
                    const std::optional<PublishedChunks> chunks = publishInChunks(
                        release.path(), release.filePath(QStringLiteral("clientes/") + path), error,
                        previousRelease.isEmpty()
                            ? QString()
                            : QDir(previousRelease).filePath(QStringLiteral("clientes/") + path));
                    if (!chunks)
                        return false;
                    file.check.chunkIndexSha256 = chunks->indexSha256;
                    file.check.chunkDeltasSha256 = chunks->deltasSha256;
                    file.check.chunkPagesSha256 = chunks->pagesSha256;
                    file.check.chunkPackSha256 = chunks->packSha256;
                    file.check.chunkPackSize = chunks->packSize;
                } else if (!previousRelease.isEmpty() &&
                           !publishDelta(release.path(), previousRelease, QStringLiteral("clientes/") + path,
                                         file.check, error)) {
                    return false;
                }
            }
        }
        if (!publishPacks(release.path(), server.files, error))
            return false;
        for (const auto &[name, arguments] : description.execArgs) {
            if (!server.files.count(name))
                return fail(QStringLiteral("servidor %1: exec de um arquivo que ele não tem: %2")
                                .arg(description.id)
                                .arg(QString::fromUtf8(name)));
            server.files[name].function = "exec";
            server.files[name].value = arguments;
        }
        for (const auto &[name, command] : description.commands) {
            if (!server.files.count(name))
                return fail(QStringLiteral("servidor %1: cmd de um arquivo que ele não tem: %2")
                                .arg(description.id)
                                .arg(QString::fromUtf8(name)));
            server.files[name].cmd = command;
        }
        return true;
    }

    QDir release;
    QString previousRelease; // empty: no deltas
    QString &error;
};

} // namespace

std::optional<ContentCheck> contentCheck(const QString &path)
{
    Sha256 hash;
    if (!addFileContent(hash, path))
        return std::nullopt;
    return ContentCheck{QByteArray::number(QFileInfo(path).size()), hash.hexResult()};
}

bool leadsOutsideRelease(const QString &releaseFolder, const QString &file)
{
    const QString folder = QDir(releaseFolder).canonicalPath() + QLatin1Char('/');
    return !QFileInfo(file).canonicalFilePath().startsWith(folder);
}

std::optional<QByteArray> buildUpdateList(const QString &releaseFolder, const QByteArray &baseUrl,
                                          QString &error, const std::vector<QByteArray> &mirrors,
                                          const QString &previousRelease)
{
    return ListBuilder(releaseFolder, previousRelease, error).build(baseUrl, mirrors);
}
