#include "chunkpublisher.h"

#include "chunks/chunkdeltas.h"
#include "chunks/chunkindex.h"
#include "chunks/chunkpack.h"
#include "chunks/filedelta.h"
#include "chunks/indexpages.h"
#include "transfer/sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <unordered_set>

namespace {

// A chunk's delta is made for every chunk of a file that changed everywhere: a
// quick level, where the dictionary does the work.
constexpr int chunkDeltaLevel = 6;

// The chunks of a file's version in the release before, in file order, and
// where each new chunk stood there: after the last chunk the two versions share.
class PreviousVersion
{
public:
    PreviousVersion(const QString &path, const ChunkParameters &parameters) : file(path)
    {
        if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
            return;
        forEachChunk(file, parameters,
                     [this](qint64 offset, const char *, std::size_t size, const ChunkHash &hash) {
                         at.emplace(hash, chunks.size());
                         chunks.push_back({hash, offset, std::uint32_t(size)});
                         return true;
                     });
    }

    // The chunk that stood where this new one stands; none when it was there too.
    std::optional<ChunkDelta> placeOf(const ChunkHash &hash, QByteArray &bytes)
    {
        if (const auto found = at.find(hash); found != at.end()) {
            next = found->second + 1;
            return std::nullopt;
        }
        if (next >= chunks.size())
            return std::nullopt;
        const Chunk &before = chunks[next++];
        if (!file.seek(before.offset) || (bytes = file.read(before.size)).size() != int(before.size))
            return std::nullopt;
        return ChunkDelta{before.hash, before.size, 0};
    }

    // An update from this version fetches the chunk.
    bool lacks(const ChunkHash &hash) const { return file.isOpen() && !at.count(hash); }

private:
    struct Chunk {
        ChunkHash hash;
        qint64 offset;
        std::uint32_t size;
    };
    QFile file;
    std::vector<Chunk> chunks;
    std::unordered_map<ChunkHash, std::size_t, ChunkHashHasher> at;
    std::size_t next = 0;
};

// The pack of an update from the file's previous version, written beside its
// place as it grows (it can be as large as the file) and named by its SHA-256
// once complete.
class UpdatePack
{
public:
    explicit UpdatePack(const QDir &release)
        : release(release), file(release.filePath(QStringLiteral("packs/cpk-XXXXXX.tmp")))
    {
    }

    bool add(const ChunkHash &chunk, bool isDelta, const QByteArray &bytes)
    {
        if (!added.insert(chunk).second)
            return true;
        if (!file.isOpen() &&
            (!release.mkpath(QStringLiteral("packs")) || !file.open() || !write(chunkPackStart())))
            return false;
        return write(chunkPackPiece(chunk, isDelta, bytes));
    }

    // Stores the pack, if anything went in; false when it could not be stored.
    bool store(PublishedChunks &published)
    {
        if (!file.isOpen())
            return true;
        published.packSha256 = hash.hexResult();
        published.packSize = QByteArray::number(file.size());
        const QString path = release.filePath(QString::fromLatin1(chunkPackPath(published.packSha256)));
        if (QFileInfo::exists(path))
            return true;
        if (!file.flush() || !QDir().mkpath(QFileInfo(path).path()) || !file.rename(path))
            return false;
        file.setAutoRemove(false);
        return true;
    }

private:
    bool write(const QByteArray &bytes)
    {
        hash.addData(bytes);
        return file.write(bytes) == bytes.size();
    }

    QDir release;
    QTemporaryFile file;
    Sha256 hash;
    std::unordered_set<ChunkHash, ChunkHashHasher> added;
};

// Stores a document of chunks/ under the name its SHA-256 gives it, and returns
// that SHA-256.
QByteArray publishDocument(const QDir &release, const QByteArray &document,
                           QByteArray (*pathOf)(const QByteArray &sha256), bool &stored)
{
    const QByteArray sha256 = Sha256::hexOf(document);
    stored = stored && !document.isEmpty() &&
             storeOnce(release.filePath(QString::fromLatin1(pathOf(sha256))), document);
    return sha256;
}

QByteArray readReleaseFile(const QDir &release, const QByteArray &path)
{
    QFile file(release.filePath(QString::fromLatin1(path)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The pages named by pagesSha256 (if any) are the index, page by page.
QString verifyPages(const QDir &release, const QByteArray &pagesSha256, const ChunkIndex &index)
{
    if (pagesSha256.isEmpty())
        return QString();
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    const QByteArray list = hex.match(QString::fromLatin1(pagesSha256)).hasMatch()
                                ? readReleaseFile(release, indexPagesPath(pagesSha256))
                                : QByteArray();
    const std::optional<IndexPages> pages = IndexPages::parse(list, index.fileSize);
    if (Sha256::hexOf(list) != pagesSha256 || !pages)
        return QStringLiteral("a lista de páginas do índice %1 falta ou está danificada")
            .arg(QString::fromLatin1(indexPagesPath(pagesSha256)));
    std::vector<IndexedChunk> chunks;
    for (const IndexPage &page : pages->pages) {
        const auto entries = parsePage(readReleaseFile(release, indexPagePath(page.sha256)), page);
        if (!entries)
            return QStringLiteral("a página de índice %1 falta ou está danificada")
                .arg(QString::fromLatin1(indexPagePath(page.sha256)));
        chunks.insert(chunks.end(), entries->begin(), entries->end());
    }
    if (pageEntries(chunks, {0, chunks.size()}) != pageEntries(index.chunks, {0, index.chunks.size()}))
        return QStringLiteral("as páginas de %1 não formam o índice")
            .arg(QString::fromLatin1(indexPagesPath(pagesSha256)));
    return QString();
}

// Every piece of the update's pack (if any) is a chunk of the index as stored
// in chunks/, or the delta of one as stored in deltas/.
QString verifyUpdatePack(const QDir &release, const ContentCheck &check, const ChunkIndex &index,
                         const ChunkDeltas &deltas)
{
    if (check.chunkPackSha256.isEmpty() && check.chunkPackSize.isEmpty())
        return QString();
    const QString name = QString::fromLatin1(chunkPackPath(check.chunkPackSha256));
    QFile pack(release.filePath(name));
    const std::optional<ChunkPackContents> pieces =
        offersChunkPack(check) && pack.open(QIODevice::ReadOnly) &&
                QByteArray::number(pack.size()) == check.chunkPackSize
            ? readChunkPack(pack, index.parameters.maximum)
            : std::nullopt;
    if (!pieces || Sha256::hexOf(readReleaseFile(release, chunkPackPath(check.chunkPackSha256))) !=
                       check.chunkPackSha256.toLower())
        return QStringLiteral(
                   "o pacote de atualização %1 falta, está danificado ou não tem o tamanho da lista")
            .arg(name);
    std::unordered_map<ChunkHash, const IndexedChunk *, ChunkHashHasher> chunks;
    for (const IndexedChunk &chunk : index.chunks)
        chunks.emplace(chunk.hash, &chunk);
    for (const auto &[hash, piece] : *pieces) {
        const auto chunk = chunks.find(hash);
        const auto delta = deltas.byChunk.find(hash);
        const bool known = chunk != chunks.end() && (!piece.isDelta || delta != deltas.byChunk.end());
        const QByteArray stored =
            known ? readReleaseFile(release, piece.isDelta ? chunkDeltaPath(delta->second.previous, hash)
                                                           : chunkPath(hash))
                  : QByteArray();
        if (!pack.seek(piece.offset) || stored.isEmpty() || pack.read(piece.size) != stored)
            return QStringLiteral("o pacote de atualização %1 traz um pedaço que não é do índice").arg(name);
    }
    return QString();
}

} // namespace

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

std::optional<PublishedChunks> publishInChunks(const QString &releaseFolder, const QString &file,
                                               QString &error, const QString &previousFile)
{
    const QDir release(releaseFolder);
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("não foi possível ler %1").arg(release.relativeFilePath(file));
        return std::nullopt;
    }
    ChunkIndex index;
    index.fileSize = source.size();
    PreviousVersion previous(previousFile, index.parameters);
    ChunkDeltas deltas;
    UpdatePack pack(release);
    bool stored = true;
    const auto store = [&](const QByteArray &path, const QByteArray &bytes) {
        stored = stored && storeOnce(release.filePath(QString::fromLatin1(path)), bytes);
    };
    const bool read = forEachChunk(
        source, index.parameters, [&](qint64, const char *data, std::size_t size, const ChunkHash &hash) {
            const QByteArray kept = storeChunk(data, size);
            index.chunks.push_back({hash, std::uint32_t(size)});
            store(chunkPath(hash), kept);
            QByteArray before;
            std::optional<ChunkDelta> delta = previous.placeOf(hash, before);
            const QByteArray made =
                delta ? makeDelta(before, QByteArray::fromRawData(data, int(size)), chunkDeltaLevel)
                      : QByteArray();
            // It takes the chunk's request, and its line in the deltas' document.
            const bool worthIt = !made.isEmpty() && made.size() + 40 < kept.size();
            if (worthIt) {
                delta->deltaSize = std::uint32_t(made.size());
                deltas.byChunk.emplace(hash, *delta);
                store(chunkDeltaPath(delta->previous, hash), made);
            }
            if (previous.lacks(hash))
                stored = stored && pack.add(hash, worthIt, worthIt ? made : kept);
            return stored;
        });
    PublishedChunks published{
        publishDocument(release, index.serialize(), chunkIndexPath, stored), {}, {}, {}, {}};
    if (!deltas.byChunk.empty())
        published.deltasSha256 = publishDocument(release, deltas.serialize(), chunkDeltasPath, stored);
    std::vector<QByteArray> pageEntries;
    const IndexPages pages = pagesOf(index, &pageEntries);
    // One page is the index again.
    for (std::size_t at = 0; pages.pages.size() > 1 && at < pages.pages.size(); ++at)
        store(indexPagePath(pages.pages[at].sha256), compressDocument(pageEntries[at]));
    if (pages.pages.size() > 1)
        published.pagesSha256 = publishDocument(release, pages.serialize(), indexPagesPath, stored);
    if (!read || !stored || !pack.store(published)) {
        error = QStringLiteral("não foi possível publicar %1 em pedaços em chunks/")
                    .arg(release.relativeFilePath(file));
        return std::nullopt;
    }
    return published;
}

QString verifyChunks(const QString &releaseFolder, const ContentCheck &check)
{
    const QByteArray &indexSha256 = check.chunkIndexSha256, &size = check.size, &sha256 = check.sha256,
                     &deltasSha256 = check.chunkDeltasSha256;
    const QDir release(releaseFolder);
    QFile indexFile(release.filePath(QString::fromLatin1(chunkIndexPath(indexSha256))));
    if (!indexFile.open(QIODevice::ReadOnly))
        return QStringLiteral("o índice de pedaços %1 não está na pasta da versão")
            .arg(QString::fromLatin1(chunkIndexPath(indexSha256)));
    const QByteArray published = indexFile.readAll();
    const std::optional<ChunkIndex> index = ChunkIndex::parse(published, size.toLongLong());
    if (Sha256::hexOf(published) != indexSha256.toLower() || !index ||
        QByteArray::number(index->fileSize) != size)
        return QStringLiteral("o índice de pedaços %1 está danificado")
            .arg(QString::fromLatin1(chunkIndexPath(indexSha256)));
    Sha256 whole;
    for (const IndexedChunk &chunk : index->chunks) {
        const std::optional<QByteArray> bytes =
            restoreChunk(readReleaseFile(release, chunkPath(chunk.hash)), chunk);
        if (!bytes)
            return QStringLiteral("o pedaço %1 falta ou está danificado")
                .arg(QString::fromLatin1(chunkPath(chunk.hash)));
        whole.addData(*bytes);
    }
    if (whole.hexResult() != sha256.toLower())
        return QStringLiteral("os pedaços de %1 não formam o arquivo da lista")
            .arg(QString::fromLatin1(chunkIndexPath(indexSha256)));
    if (const QString pagesProblem = verifyPages(release, check.chunkPagesSha256, *index);
        !pagesProblem.isEmpty())
        return pagesProblem;
    ChunkDeltas deltas;
    if (!deltasSha256.isEmpty()) {
        const QByteArray deltasBytes = readReleaseFile(release, chunkDeltasPath(deltasSha256));
        std::optional<ChunkDeltas> parsed = ChunkDeltas::parse(deltasBytes, index->chunks.size());
        if (Sha256::hexOf(deltasBytes) != deltasSha256.toLower() || !parsed)
            return QStringLiteral("os deltas de pedaços %1 faltam ou estão danificados")
                .arg(QString::fromLatin1(chunkDeltasPath(deltasSha256)));
        deltas = std::move(*parsed);
    }
    for (const auto &[chunk, delta] : deltas.byChunk) {
        const QByteArray path = chunkDeltaPath(delta.previous, chunk);
        if (QFileInfo(release.filePath(QString::fromLatin1(path))).size() != qint64(delta.deltaSize))
            return QStringLiteral("o delta %1 falta ou não tem o tamanho da lista")
                .arg(QString::fromLatin1(path));
    }
    return verifyUpdatePack(release, check, *index, deltas);
}

bool publishDelta(const QString &releaseFolder, const QString &previousFolder, const QString &file,
                  ContentCheck &check, QString &error)
{
    QFile previousFile(QDir(previousFolder).filePath(file)), updatedFile(QDir(releaseFolder).filePath(file));
    if (check.bytes() > largestDeltaFile || !previousFile.open(QIODevice::ReadOnly) ||
        previousFile.size() > largestDeltaFile || !updatedFile.open(QIODevice::ReadOnly))
        return true;
    const QByteArray previous = previousFile.readAll(), updated = updatedFile.readAll();
    const QByteArray previousSha256 = Sha256::hexOf(previous);
    if (previousSha256 == check.sha256)
        return true;
    // It takes the file's request.
    const QByteArray delta = makeDelta(previous, updated);
    if (delta.isEmpty() || delta.size() >= updated.size())
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
