#include "chunkpublisher.h"

#include "chunks/chunkindex.h"
#include "chunks/filedelta.h"
#include "transfer/sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Written beside its place and renamed into it, so that a server never serves
// half a chunk; a chunk already there is the same bytes under the same name.
bool storeOnce(const QString &path, const QByteArray &bytes)
{
    if (QFileInfo::exists(path))
        return true;
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    const QString temporary = path + QStringLiteral(".tmp");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()) {
        file.remove();
        return false;
    }
    file.close();
    if (QFile::rename(temporary, path))
        return true;
    QFile::remove(temporary);
    return QFileInfo::exists(path); // another publisher stored it meanwhile
}

QByteArray sha256Of(const QByteArray &bytes)
{
    Sha256 hash;
    hash.addData(bytes);
    return hash.hexResult();
}

} // namespace

std::optional<QByteArray> publishInChunks(const QString &releaseFolder, const QString &file, QString &error)
{
    const QDir release(releaseFolder);
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("não foi possível ler %1").arg(release.relativeFilePath(file));
        return std::nullopt;
    }
    ChunkIndex index;
    index.fileSize = source.size();
    bool stored = true;
    const bool read = forEachChunk(
        source, index.parameters, [&](qint64, const char *data, std::size_t size, const ChunkHash &hash) {
            const QByteArray kept = storeChunk(data, size);
            index.chunks.push_back({hash, std::uint32_t(size)});
            stored = storeOnce(release.filePath(QString::fromLatin1(chunkPath(hash))), kept);
            return stored;
        });
    const QByteArray published = index.serialize();
    Sha256 hash;
    hash.addData(published);
    const QByteArray indexSha256 = hash.hexResult();
    if (!read || !stored || published.isEmpty() ||
        !storeOnce(release.filePath(QString::fromLatin1(chunkIndexPath(indexSha256))), published)) {
        error = QStringLiteral("não foi possível publicar %1 em pedaços em chunks/")
                    .arg(release.relativeFilePath(file));
        return std::nullopt;
    }
    return indexSha256;
}

QString verifyChunks(const QString &releaseFolder, const QByteArray &indexSha256, const QByteArray &size,
                     const QByteArray &sha256)
{
    const QDir release(releaseFolder);
    QFile indexFile(release.filePath(QString::fromLatin1(chunkIndexPath(indexSha256))));
    if (!indexFile.open(QIODevice::ReadOnly))
        return QStringLiteral("o índice de pedaços %1 não está na pasta da versão")
            .arg(QString::fromLatin1(chunkIndexPath(indexSha256)));
    const QByteArray published = indexFile.readAll();
    Sha256 indexHash;
    indexHash.addData(published);
    const std::optional<ChunkIndex> index = ChunkIndex::parse(published, size.toLongLong());
    if (indexHash.hexResult() != indexSha256.toLower() || !index ||
        QByteArray::number(index->fileSize) != size)
        return QStringLiteral("o índice de pedaços %1 está danificado")
            .arg(QString::fromLatin1(chunkIndexPath(indexSha256)));
    Sha256 whole;
    for (const IndexedChunk &chunk : index->chunks) {
        QFile stored(release.filePath(QString::fromLatin1(chunkPath(chunk.hash))));
        const std::optional<QByteArray> bytes =
            stored.open(QIODevice::ReadOnly) ? restoreChunk(stored.readAll(), chunk) : std::nullopt;
        if (!bytes)
            return QStringLiteral("o pedaço %1 falta ou está danificado")
                .arg(QString::fromLatin1(chunkPath(chunk.hash)));
        whole.addData(*bytes);
    }
    if (whole.hexResult() != sha256.toLower())
        return QStringLiteral("os pedaços de %1 não formam o arquivo da lista")
            .arg(QString::fromLatin1(chunkIndexPath(indexSha256)));
    return QString();
}

bool publishDelta(const QString &releaseFolder, const QString &previousFolder, const QString &file,
                  ContentCheck &check, QString &error)
{
    QFile previousFile(QDir(previousFolder).filePath(file)), updatedFile(QDir(releaseFolder).filePath(file));
    if (check.bytes() > largestDeltaFile || !previousFile.open(QIODevice::ReadOnly) ||
        previousFile.size() > largestDeltaFile || !updatedFile.open(QIODevice::ReadOnly))
        return true;
    const QByteArray previous = previousFile.readAll(), updated = updatedFile.readAll();
    const QByteArray previousSha256 = sha256Of(previous);
    if (previousSha256 == check.sha256)
        return true;
    // A request of its own is worth it only well below the file's size.
    const QByteArray delta = makeDelta(previous, updated);
    if (delta.isEmpty() || delta.size() * 2 > updated.size())
        return true;
    if (!storeOnce(QDir(releaseFolder).filePath(QString::fromLatin1(deltaPath(previousSha256, check.sha256))),
                   delta)) {
        error = QStringLiteral("não foi possível publicar o delta de %1 em deltas/").arg(file);
        return false;
    }
    check.deltaFrom = previousSha256;
    check.deltaSize = QByteArray::number(delta.size());
    return true;
}

QString verifyDelta(const QString &releaseFolder, const ContentCheck &check)
{
    const QByteArray path = deltaPath(check.deltaFrom, check.sha256);
    if (!offersDelta(check))
        return QStringLiteral("deltaFrom sem deltaSize, size e sha256, ou de um arquivo grande demais");
    if (QByteArray::number(QFileInfo(QDir(releaseFolder).filePath(QString::fromLatin1(path))).size()) !=
        check.deltaSize)
        return QStringLiteral("o delta %1 falta ou não tem o tamanho da lista")
            .arg(QString::fromLatin1(path));
    return QString();
}
