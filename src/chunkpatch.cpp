#include "chunkpatch.h"

#include "messages.h"
#include "names.h"
#include "partialfile.h"
#include "sha256.h"
#include "transferengine.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cstring>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace {

// An index of a million chunks is 24 MB before compression.
constexpr qint64 maximumIndexSize = 64 * 1024 * 1024;
// Bytes copied or written per run(), so that the window keeps its turns.
constexpr qint64 writeSliceBytes = 8 << 20;

struct ChunkHashHasher {
    std::size_t operator()(const ChunkHash &hash) const
    {
        std::size_t value;
        std::memcpy(&value, hash.data(), sizeof value);
        return value;
    }
};

struct Location {
    std::size_t source;
    qint64 offset;
};

} // namespace

struct ChunkPatch::Work {
    enum class Step { FetchingIndex, Scanning, Building, Finished };

    QByteArray baseUrl;
    QByteArray localPath;
    ContentCheck expected;
    std::vector<QByteArray> sources; // the target first
    TransferEngine engine;
    std::size_t indexRequest = 0;
    ChunkIndex index;
    Step step = Step::FetchingIndex;
    Result result = Result::Working;
    QByteArray reason;

    std::thread scanner;
    std::atomic<bool> stopScanning{false};
    std::atomic<bool> scanned{false};
    std::unordered_set<ChunkHash, ChunkHashHasher> needed;
    std::unordered_map<ChunkHash, Location, ChunkHashHasher> onDisk; // the scanner's until scanned
    bool targetIsNew = false;

    std::vector<std::unique_ptr<QFile>> readers;
    std::unique_ptr<PartialFile> output;
    Sha256 outputHash;
    qint64 written = 0;
    std::size_t next = 0; // the next chunk of the index to write
    std::unordered_map<ChunkHash, std::size_t, ChunkHashHasher> requests;
    std::unordered_map<ChunkHash, int, ChunkHashHasher> usesLeft;      // of fetched chunks ...
    std::unordered_map<ChunkHash, QByteArray, ChunkHashHasher> reused; // ... kept while they recur

    void finish(Result ending, const QByteArray &why = QByteArray())
    {
        result = ending;
        reason = why;
        step = Step::Finished;
        if (ending == Result::Cancelled && output) {
            output->keep(); // what was built is the next start's first source
            output.reset();
        }
        output.reset();
        if (ending != Result::Cancelled)
            QFile::remove(QFile::decodeName(leftoverSource(localPath)));
        if (ending == Result::Unavailable)
            consoleMessage(QByteArray("Peda\xc3\xa7os indispon\xc3\xadveis, baixando o arquivo inteiro: " +
                                      localPath + " (" + why + ')')
                               .constData());
    }

    void takeIndex();
    void scan();
    void startBuilding();
    void build();
    bool writeChunk(const QByteArray &bytes);
};

void ChunkPatch::Work::takeIndex()
{
    const TransferOutcome &outcome = engine.outcome(indexRequest);
    if (outcome.kind == TransferOutcome::Kind::Cancelled)
        return finish(Result::Cancelled);
    const QByteArray published = engine.takeBody(indexRequest);
    Sha256 hash;
    hash.addData(published);
    std::optional<ChunkIndex> parsed;
    if (outcome.kind != TransferOutcome::Kind::Stored ||
        hash.hexResult() != expected.chunkIndexSha256.toLower() || !(parsed = ChunkIndex::parse(published)) ||
        parsed->fileSize != expected.size.toLongLong())
        return finish(Result::Unavailable, "\xc3\xadndice ausente ou danificado");
    index = std::move(*parsed);
    for (const IndexedChunk &chunk : index.chunks)
        needed.insert(chunk.hash);
    step = Step::Scanning;
    scanner = std::thread([this] { scan(); });
}

// On its own thread: where each needed chunk already is on disk, and whether the
// target already is the new version (cut into the index's chunks, in order).
void ChunkPatch::Work::scan()
{
    for (std::size_t source = 0; source < sources.size() && !stopScanning; ++source) {
        QFile file(QFile::decodeName(sources[source]));
        if (QFileInfo(file).isSymLink() || !file.open(QIODevice::ReadOnly))
            continue;
        std::size_t position = 0;
        bool sameChunks = source == 0;
        forEachChunk(file, index.parameters,
                     [&](qint64 offset, const char *, std::size_t, const ChunkHash &hash) {
                         if (needed.count(hash))
                             onDisk.emplace(hash, Location{source, offset});
                         sameChunks = sameChunks && position < index.chunks.size() &&
                                      index.chunks[position].hash == hash;
                         ++position;
                         return !stopScanning.load();
                     });
        if (source == 0)
            targetIsNew = sameChunks && position == index.chunks.size() && !stopScanning;
    }
    scanned = true;
}

void ChunkPatch::Work::startBuilding()
{
    scanner.join();
    if (targetIsNew)
        return finish(Result::AlreadyThere);
    for (const QByteArray &source : sources)
        readers.push_back(std::make_unique<QFile>(QFile::decodeName(source)));
    for (const auto &reader : readers)
        reader->open(QIODevice::ReadOnly);
    if (!(output = PartialFile::create(localPath)))
        return finish(Result::Unavailable, "arquivo parcial");
    for (const IndexedChunk &chunk : index.chunks) {
        if (onDisk.count(chunk.hash))
            continue;
        if (++usesLeft[chunk.hash] == 1)
            requests[chunk.hash] = engine.add(
                {downloadUrl(baseUrl, "", chunkPath(chunk.hash)), QByteArray(), qint64(chunk.size), {}});
    }
    step = Step::Building;
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
        const auto there = onDisk.find(chunk.hash);
        if (there != onDisk.end()) {
            QFile &reader = *readers[there->second.source];
            if (!reader.seek(there->second.offset) ||
                (bytes = reader.read(chunk.size)).size() != int(chunk.size))
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
            if (outcome.kind != TransferOutcome::Kind::Stored ||
                !(restored = restoreChunk(engine.takeBody(request), chunk)))
                return finish(Result::Unavailable,
                              "peda\xc3\xa7o " + chunkHashHex(chunk.hash) + " ausente ou danificado");
            bytes = std::move(*restored);
        }
        if (!onDisk.count(chunk.hash)) {
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
        return finish(Result::Unavailable, "o arquivo montado n\xc3\xa3o confere com a lista");
    if (!output->finish())
        return finish(Result::Unavailable, "escrita do arquivo parcial");
    output.reset();
    finish(Result::Built);
}

ChunkPatch::ChunkPatch(const QByteArray &chunkBaseUrl, const QByteArray &localPath,
                       const ContentCheck &expected, std::vector<QByteArray> otherSources)
    : work(std::make_unique<Work>())
{
    work->baseUrl = chunkBaseUrl;
    work->localPath = localPath;
    work->expected = expected;
    // A patch cut short (a closed window, a power cut) left its partial file: its
    // chunks are taken, not fetched again.
    const QByteArray partial = localPath + partialFileSuffix;
    const QFileInfo left(QFile::decodeName(partial));
    if (left.isFile() && !left.isSymLink()) {
        QFile::remove(QFile::decodeName(leftoverSource(localPath)));
        QFile::rename(left.filePath(), QFile::decodeName(leftoverSource(localPath)));
    }
    work->sources.push_back(localPath);
    if (QFileInfo::exists(QFile::decodeName(leftoverSource(localPath))))
        work->sources.push_back(leftoverSource(localPath));
    for (QByteArray &source : otherSources)
        work->sources.push_back(std::move(source));
    work->indexRequest =
        work->engine.add({downloadUrl(chunkBaseUrl, "", chunkIndexPath(expected.chunkIndexSha256)),
                          QByteArray(),
                          maximumIndexSize,
                          {}});
}

ChunkPatch::~ChunkPatch()
{
    work->stopScanning = true;
    if (work->scanner.joinable())
        work->scanner.join();
}

ChunkPatch::Result ChunkPatch::run(int waitMs)
{
    Work &w = *work;
    if (w.step != Work::Step::Finished && w.engine.wasCancelled()) {
        w.stopScanning = true;
        if (w.scanner.joinable())
            w.scanner.join();
        w.finish(Result::Cancelled);
    }
    switch (w.step) {
    case Work::Step::FetchingIndex:
        w.engine.run(waitMs);
        if (w.engine.isFinished(w.indexRequest))
            w.takeIndex();
        break;
    case Work::Step::Scanning:
        if (w.scanned)
            w.startBuilding();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(waitMs, 5)));
        break;
    case Work::Step::Building:
        w.engine.run(w.next < w.index.chunks.size() && w.onDisk.count(w.index.chunks[w.next].hash) ? 0
                                                                                                   : waitMs);
        w.build();
        break;
    case Work::Step::Finished:
        break;
    }
    return w.result;
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

qint64 ChunkPatch::fileSize() const
{
    return work->expected.size.toLongLong();
}

QByteArray ChunkPatch::leftoverSource(const QByteArray &localPath)
{
    return localPath + partialFileSuffix + ".source";
}
