#include "chunks/chunkpatch.h"

#include "chunks/chunkpack.h"
#include "chunks/filedelta.h"
#include "chunks/filepacks.h"
#include "transfer/folderfile.h"
#include "names.h"
#include "transfer/partialfile.h"
#include "transfer/backgroundsha256.h"
#include "transfer/sha256.h"
#include "transfer/transferengine.h"

#include <QFile>
#include <QFileInfo>

#include <unordered_map>
#include <unordered_set>

namespace {

// Bytes copied or written per run(), so that the window keeps its turns.
constexpr qint64 writeSliceBytes = 8 << 20;

// Where the update's pack is downloaded. A pack begun is continued by the next
// run; one done with is removed, once the transfers that write it have ended.
struct PackDownload {
    QByteArray path;
    bool keep = true;

    ~PackDownload()
    {
        if (keep || path.isEmpty())
            return;
        for (const QByteArray &file :
             {path, path + partialFileSuffix, TransferEngine::resumeRecordPath(path)})
            QFile::remove(QFile::decodeName(file));
    }
};

} // namespace

struct ChunkPatch::Work {
    std::vector<QByteArray> bases;
    const ChunkDeltas *deltas = nullptr;
    QByteArray localPath;
    ContentCheck expected;
    const ChunkIndex &index;
    const ChunkLocations &locations;
    PackDownload packFile; // outlives the engine
    TransferEngine engine;
    Result result = Result::Working;
    QByteArray reason;

    std::vector<std::unique_ptr<QFile>> readers; // opened when first read
    std::unique_ptr<PartialFile> output;
    BackgroundSha256 outputHash;
    qint64 written = 0;
    std::size_t next = 0; // the next chunk of the index to write
    std::unordered_map<ChunkHash, std::size_t, ChunkHashHasher> requests;
    std::unordered_set<ChunkHash, ChunkHashHasher> viaDelta;      // requested as the delta of a chunk on disk
    std::unordered_map<ChunkHash, int, ChunkHashHasher> usesLeft; // of fetched chunks ...
    std::vector<std::size_t> missing; // the first place of each chunk to fetch, in file order
    std::unordered_map<ChunkHash, QByteArray, ChunkHashHasher> reused; // ... kept while they recur

    // The update's pack, fetched instead of the chunks one by one where most of
    // it is what is missing here; its pieces are read as the build reaches them.
    std::optional<std::size_t> packRequest;
    std::unique_ptr<QFile> packReader;
    ChunkPackContents packPieces;

    Work(const ChunkIndex &index, const ChunkLocations &locations, TransferPolicy policy)
        : index(index), locations(locations), engine(policy)
    {
    }

    void finish(Result ending, const QByteArray &why = QByteArray())
    {
        result = ending;
        reason = why;
        if (ending == Result::Cancelled && output)
            output->keep(); // what was built is the next run's first source
        output.reset();
        packReader.reset();
        packFile.keep = ending == Result::Cancelled;
    }

    bool nextIsOnDisk() const
    {
        return next < index.chunks.size() && locations.find(index.chunks[next].hash);
    }
    bool readFromDisk(const IndexedChunk &chunk, const ChunkLocations::Location &location, QByteArray &bytes);
    // The chunks from next on that follow each other in one file on disk (most
    // of an old version), read at once; how many, 0 when reading failed.
    std::size_t readRunFromDisk(const ChunkLocations::Location &first, QByteArray &bytes);
    // A chunk the player lacks: as the delta of the chunk that stood at its place,
    // where the release has one and that chunk is on disk; else as it is.
    std::size_t request(const IndexedChunk &chunk, bool deltaWanted);
    void requestMissing(bool packWanted);
    void unpackArrivedPack();
    enum class Fetched { Ready, Waiting, Failed, Cancelled };
    Fetched fromPack(const IndexedChunk &chunk, QByteArray &bytes);
    Fetched fetched(const IndexedChunk &chunk, QByteArray &bytes);
    std::optional<QByteArray> fromDelta(const IndexedChunk &chunk, const QByteArray &delta);
    bool writeChunk(const QByteArray &bytes);
    void build();
};

bool ChunkPatch::Work::readFromDisk(const IndexedChunk &chunk, const ChunkLocations::Location &location,
                                    QByteArray &bytes)
{
    std::unique_ptr<QFile> &reader = readers[location.file];
    if (!reader) {
        reader = std::make_unique<QFile>(QFile::decodeName(locations.filePath(location.file)));
        openRegularFile(*reader, QIODevice::ReadOnly);
    }
    return reader->seek(location.offset) && (bytes = reader->read(chunk.size)).size() == int(chunk.size);
}

std::size_t ChunkPatch::Work::readRunFromDisk(const ChunkLocations::Location &first, QByteArray &bytes)
{
    constexpr qint64 longestRun = 1 << 20;
    std::size_t count = 1;
    qint64 length = index.chunks[next].size;
    while (next + count < index.chunks.size() && length < longestRun) {
        const IndexedChunk &following = index.chunks[next + count];
        const ChunkLocations::Location *at = locations.find(following.hash);
        if (!at || at->file != first.file || at->offset != first.offset + length)
            break;
        length += following.size;
        ++count;
    }
    return readFromDisk({index.chunks[next].hash, std::uint32_t(length)}, first, bytes) ? count : 0;
}

bool ChunkPatch::Work::writeChunk(const QByteArray &bytes)
{
    outputHash.addData(bytes);
    written += bytes.size();
    return output->write(bytes.constData(), std::size_t(bytes.size()));
}

void ChunkPatch::Work::build()
{
    const qint64 sliceEnd = written + writeSliceBytes;
    for (; next < index.chunks.size() && written < sliceEnd; ++next) {
        const IndexedChunk &chunk = index.chunks[next];
        QByteArray bytes;
        const ChunkLocations::Location *location = locations.find(chunk.hash);
        if (location) {
            const std::size_t run = readRunFromDisk(*location, bytes);
            if (run == 0)
                return finish(Result::Unavailable, "leitura de um arquivo instalado");
            next += run - 1;
        } else if (const auto kept = reused.find(chunk.hash); kept != reused.end()) {
            bytes = kept->second;
        } else if (const Fetched state = fetched(chunk, bytes); state == Fetched::Waiting) {
            return; // it is on its way
        } else if (state == Fetched::Cancelled) {
            return finish(Result::Cancelled);
        } else if (state == Fetched::Failed) {
            return finish(Result::Unavailable,
                          "pedaço " + chunkHashHex(chunk.hash) + " ausente ou danificado");
        }
        if (!location) {
            if (--usesLeft[chunk.hash] > 0)
                reused[chunk.hash] = bytes;
            else
                reused.erase(chunk.hash);
        }
        if (!writeChunk(bytes))
            return finish(Result::Unavailable, "escrita do arquivo parcial");
    }
    if (next < index.chunks.size())
        return;
    if (written != expected.size.toLongLong() || outputHash.hexResult() != expected.sha256.toLower())
        return finish(Result::Unavailable, "o arquivo montado não confere com a lista");
    if (!output->finish())
        return finish(Result::Unavailable, "escrita do arquivo parcial");
    finish(Result::Built);
}

std::size_t ChunkPatch::Work::request(const IndexedChunk &chunk, bool deltaWanted)
{
    if (deltas && deltaWanted) {
        const auto delta = deltas->byChunk.find(chunk.hash);
        if (delta != deltas->byChunk.end() && locations.find(delta->second.previous)) {
            viaDelta.insert(chunk.hash);
            return engine.add(requestWithMirrors(
                downloadUrls(bases, "", chunkDeltaPath(delta->second.previous, chunk.hash)), {},
                qint64(delta->second.deltaSize)));
        }
    }
    return engine.add(
        requestWithMirrors(downloadUrls(bases, "", chunkPath(chunk.hash)), {}, qint64(chunk.size)));
}

// The pack where the list offers one and at most half of it is more than what
// is missing here (a player one release behind needs all of it); the chunks one
// by one otherwise, and those the pack does not bring once it is there.
void ChunkPatch::Work::requestMissing(bool packWanted)
{
    qint64 missingBytes = 0;
    for (const std::size_t at : missing)
        missingBytes += qint64(index.chunks[at].size);
    if (packWanted && offersChunkPack(expected) && missing.size() > 1 &&
        expected.chunkPackSize.toLongLong() <= 2 * missingBytes) {
        packFile.path = packDownloadPath(QFile::encodeName(QFileInfo(QFile::decodeName(localPath)).path()),
                                         expected.chunkPackSha256);
        packRequest =
            engine.add(requestWithMirrors(downloadUrls(bases, "", chunkPackPath(expected.chunkPackSha256)),
                                          packFile.path, 0, ContentCheck{expected.chunkPackSize, {}}));
        return;
    }
    for (const std::size_t at : missing) {
        const IndexedChunk &chunk = index.chunks[at];
        if (!requests.count(chunk.hash) && !packPieces.count(chunk.hash))
            requests[chunk.hash] = request(chunk, true);
    }
}

// A pack that did not come, or is not one, leaves every chunk to its own request.
void ChunkPatch::Work::unpackArrivedPack()
{
    const std::size_t pack = *packRequest;
    packRequest.reset();
    if (engine.outcome(pack).kind == TransferOutcome::Kind::Stored && engine.commit(pack)) {
        packReader = std::make_unique<QFile>(QFile::decodeName(packFile.path));
        std::optional<ChunkPackContents> pieces;
        if (openRegularFile(*packReader, QIODevice::ReadOnly))
            pieces = readChunkPack(*packReader, index.parameters.maximum);
        if (pieces)
            packPieces = std::move(*pieces);
    }
    requestMissing(false);
}

ChunkPatch::Work::Fetched ChunkPatch::Work::fromPack(const IndexedChunk &chunk, QByteArray &bytes)
{
    const auto found = packPieces.find(chunk.hash);
    const ChunkPackPiece piece = found->second;
    packPieces.erase(found);
    std::optional<QByteArray> restored;
    // A delta whose base the release's deltas do not name (a pack of another
    // build) makes nothing.
    const bool usable = !piece.isDelta || (deltas && deltas->byChunk.count(chunk.hash));
    if (usable && packReader->seek(piece.offset)) {
        const QByteArray stored = packReader->read(piece.size);
        if (stored.size() == int(piece.size))
            restored = piece.isDelta ? fromDelta(chunk, stored) : restoreChunk(stored, chunk);
    }
    if (!restored) {
        requests[chunk.hash] = request(chunk, false);
        return Fetched::Waiting;
    }
    bytes = std::move(*restored);
    return Fetched::Ready;
}

ChunkPatch::Work::Fetched ChunkPatch::Work::fetched(const IndexedChunk &chunk, QByteArray &bytes)
{
    if (packRequest && !engine.isFinished(*packRequest))
        return Fetched::Waiting;
    if (packRequest)
        unpackArrivedPack();
    if (packPieces.count(chunk.hash))
        return fromPack(chunk, bytes);
    const std::size_t request = requests.at(chunk.hash);
    if (!engine.isFinished(request))
        return Fetched::Waiting;
    const TransferOutcome &outcome = engine.outcome(request);
    if (outcome.kind == TransferOutcome::Kind::Cancelled)
        return Fetched::Cancelled;
    std::optional<QByteArray> restored;
    if (outcome.kind == TransferOutcome::Kind::Stored)
        restored = viaDelta.count(chunk.hash) ? fromDelta(chunk, engine.takeBody(request))
                                              : restoreChunk(engine.takeBody(request), chunk);
    if (!restored && viaDelta.erase(chunk.hash)) {
        requests[chunk.hash] = this->request(chunk, false);
        return Fetched::Waiting;
    }
    if (!restored)
        return Fetched::Failed;
    bytes = std::move(*restored);
    return Fetched::Ready;
}

std::optional<QByteArray> ChunkPatch::Work::fromDelta(const IndexedChunk &chunk, const QByteArray &delta)
{
    const ChunkDelta &entry = deltas->byChunk.at(chunk.hash);
    const ChunkLocations::Location *location = locations.find(entry.previous);
    QByteArray previous;
    if (!location || !readFromDisk({entry.previous, entry.previousSize}, *location, previous))
        return std::nullopt;
    std::optional<QByteArray> bytes = applyDelta(previous, delta, chunk.size);
    if (!bytes || chunkHashOf(bytes->constData(), std::size_t(bytes->size())) != chunk.hash)
        return std::nullopt;
    return bytes;
}

ChunkPatch::ChunkPatch(const std::vector<QByteArray> &bases, const QByteArray &localPath,
                       const ContentCheck &expected, const ChunkIndex &index, const ChunkLocations &locations,
                       TransferPolicy policy, const ChunkDeltas *deltas)
    : work(std::make_unique<Work>(index, locations, policy))
{
    work->bases = bases;
    work->deltas = deltas;
    work->localPath = localPath;
    work->expected = expected;
    work->readers.resize(locations.fileCount());
    for (std::size_t at = 0; at < index.chunks.size(); ++at) {
        const ChunkHash &hash = index.chunks[at].hash;
        if (!locations.find(hash) && ++work->usesLeft[hash] == 1)
            work->missing.push_back(at);
    }
    work->requestMissing(true);
}

ChunkPatch::~ChunkPatch() = default;

ChunkPatch::Result ChunkPatch::run(int waitMs)
{
    Work &w = *work;
    if (w.result != Result::Working)
        return w.result;
    if (w.engine.wasCancelled()) {
        w.finish(Result::Cancelled);
        return w.result;
    }
    if (!w.output && !(w.output = PartialFile::create(w.localPath))) {
        w.finish(Result::Unavailable, "arquivo parcial");
        return w.result;
    }
    w.engine.run(w.nextIsOnDisk() ? 0 : waitMs);
    w.build();
    return w.result;
}

void ChunkPatch::cancel()
{
    work->engine.cancel();
}

const QByteArray &ChunkPatch::reason() const
{
    return work->reason;
}

qint64 ChunkPatch::bytesReceived() const
{
    return work->engine.bytesReceived();
}

qint64 ChunkPatch::bytesWritten() const
{
    return work->written;
}
