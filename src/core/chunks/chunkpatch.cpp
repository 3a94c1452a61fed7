#include "chunks/chunkpatch.h"

#include "chunks/filedelta.h"
#include "transfer/folderfile.h"
#include "names.h"
#include "transfer/partialfile.h"
#include "transfer/sha256.h"
#include "transfer/transferengine.h"

#include <QFile>

#include <unordered_map>
#include <unordered_set>

namespace {

// Bytes copied or written per run(), so that the window keeps its turns.
constexpr qint64 writeSliceBytes = 8 << 20;

} // namespace

struct ChunkPatch::Work {
    std::vector<QByteArray> bases;
    const ChunkDeltas *deltas = nullptr;
    QByteArray localPath;
    ContentCheck expected;
    const ChunkIndex &index;
    const ChunkLocations &locations;
    TransferEngine engine;
    Result result = Result::Working;
    QByteArray reason;

    std::vector<std::unique_ptr<QFile>> readers; // opened when first read
    std::unique_ptr<PartialFile> output;
    Sha256 outputHash;
    qint64 written = 0;
    std::size_t next = 0; // the next chunk of the index to write
    std::unordered_map<ChunkHash, std::size_t, ChunkHashHasher> requests;
    std::unordered_set<ChunkHash, ChunkHashHasher> viaDelta;      // requested as the delta of a chunk on disk
    std::unordered_map<ChunkHash, int, ChunkHashHasher> usesLeft; // of fetched chunks ...
    std::unordered_map<ChunkHash, QByteArray, ChunkHashHasher> reused; // ... kept while they recur

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
    }

    bool nextIsOnDisk() const
    {
        return next < index.chunks.size() && locations.find(index.chunks[next].hash);
    }
    bool readFromDisk(const IndexedChunk &chunk, const ChunkLocations::Location &location, QByteArray &bytes);
    // A chunk the player lacks: as the delta of the chunk that stood at its place,
    // where the release has one and that chunk is on disk; else as it is.
    std::size_t request(const IndexedChunk &chunk, bool deltaWanted);
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
            if (!readFromDisk(chunk, *location, bytes))
                return finish(Result::Unavailable, "leitura de um arquivo instalado");
        } else if (const auto kept = reused.find(chunk.hash); kept != reused.end()) {
            bytes = kept->second;
        } else {
            const std::size_t request = requests.at(chunk.hash);
            if (!engine.isFinished(request))
                return; // it is on its way
            const TransferOutcome &outcome = engine.outcome(request);
            if (outcome.kind == TransferOutcome::Kind::Cancelled)
                return finish(Result::Cancelled);
            std::optional<QByteArray> restored;
            if (outcome.kind == TransferOutcome::Kind::Stored)
                restored = viaDelta.count(chunk.hash) ? fromDelta(chunk, engine.takeBody(request))
                                                      : restoreChunk(engine.takeBody(request), chunk);
            if (!restored && viaDelta.erase(chunk.hash)) {
                requests[chunk.hash] = this->request(chunk, false);
                return;
            }
            if (!restored)
                return finish(Result::Unavailable,
                              "pedaço " + chunkHashHex(chunk.hash) + " ausente ou danificado");
            bytes = std::move(*restored);
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
    for (const IndexedChunk &chunk : index.chunks) {
        if (locations.find(chunk.hash))
            continue;
        if (++work->usesLeft[chunk.hash] == 1)
            work->requests[chunk.hash] = work->request(chunk, true);
    }
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
