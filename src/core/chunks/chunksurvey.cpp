#include "chunks/chunksurvey.h"

#include "transfer/folderfile.h"
#include "names.h"
#include "transfer/partialfile.h"
#include "transfer/sha256.h"
#include "transfer/transferengine.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace {

// An index of a million chunks is 24 MB before compression.
constexpr qint64 maximumIndexSize = 64 * 1024 * 1024;

bool isPlainFile(const QByteArray &path)
{
    const QFileInfo info(QFile::decodeName(path));
    return info.isFile() && !info.isSymLink();
}

} // namespace

struct ChunkSurvey::Work {
    struct Surveyed {
        Target target;
        std::size_t indexRequest = 0;
        std::optional<std::size_t> deltasRequest;
        std::optional<ChunkIndex> index;
        std::optional<ChunkDeltas> deltas;
        bool alreadyThere = false;
        bool worthBuilding = false;
        bool provider = false;
    };

    explicit Work(TransferPolicy policy) : engine(policy) {}

    std::vector<Surveyed> targets;
    std::vector<QByteArray> otherSources;
    TransferEngine engine;
    bool indexesTaken = false;
    bool done = false;

    std::thread scanner;
    std::atomic<bool> stopScanning{false};
    std::atomic<bool> scanned{false};
    ChunkLocations locations; // the scanner's until scanned

    void takeIndexes();
    void scan();
    void plan();
    // Cuts one file; when compareWith is given, true if the file is cut into
    // exactly its chunks.
    bool scanFile(const QByteArray &path, const std::unordered_set<ChunkHash, ChunkHashHasher> &needed,
                  const ChunkParameters &parameters, const ChunkIndex *compareWith);
};

void ChunkSurvey::Work::takeIndexes()
{
    indexesTaken = true;
    bool anyIndex = false;
    for (Surveyed &surveyed : targets) {
        const ContentCheck &expected = surveyed.target.expected;
        const QByteArray published = engine.takeBody(surveyed.indexRequest);
        Sha256 hash;
        hash.addData(published);
        if (engine.outcome(surveyed.indexRequest).kind == TransferOutcome::Kind::Stored &&
            hash.hexResult() == expected.chunkIndexSha256.toLower())
            surveyed.index = ChunkIndex::parse(published, expected.bytes());
        anyIndex = anyIndex || surveyed.index;
        // Deltas that are missing or damaged cost their chunks whole, no more.
        if (surveyed.index && surveyed.deltasRequest) {
            const QByteArray deltas = engine.takeBody(*surveyed.deltasRequest);
            if (Sha256::hexOf(deltas) == expected.chunkDeltasSha256.toLower())
                surveyed.deltas = ChunkDeltas::parse(deltas, surveyed.index->chunks.size());
        }
    }
    if (anyIndex)
        scanner = std::thread([this] { scan(); });
    else
        done = true;
}

bool ChunkSurvey::Work::scanFile(const QByteArray &path,
                                 const std::unordered_set<ChunkHash, ChunkHashHasher> &needed,
                                 const ChunkParameters &parameters, const ChunkIndex *compareWith)
{
    QFile file(QFile::decodeName(path));
    if (!openRegularFile(file, QIODevice::ReadOnly))
        return false;
    const std::size_t source = locations.addFile(path);
    std::size_t position = 0;
    bool sameChunks = compareWith != nullptr;
    const bool read =
        forEachChunk(file, parameters, [&](qint64 offset, const char *, std::size_t, const ChunkHash &hash) {
            if (needed.count(hash))
                locations.add(hash, source, offset);
            sameChunks = sameChunks && position < compareWith->chunks.size() &&
                         compareWith->chunks[position].hash == hash;
            ++position;
            return !stopScanning.load();
        });
    return read && sameChunks && position == compareWith->chunks.size();
}

// On its own thread: the targets, what interrupted builds left, then the
// other files.
void ChunkSurvey::Work::scan()
{
    std::unordered_set<ChunkHash, ChunkHashHasher> needed;
    const ChunkParameters *parameters = nullptr;
    for (const Surveyed &surveyed : targets)
        if (surveyed.index) {
            for (const IndexedChunk &chunk : surveyed.index->chunks)
                needed.insert(chunk.hash);
            // A changed chunk is made from the one that stood at its place.
            if (surveyed.deltas)
                for (const auto &[chunk, delta] : surveyed.deltas->byChunk)
                    needed.insert(delta.previous);
            if (!parameters)
                parameters = &surveyed.index->parameters;
        }
    // A chunk is found by its hash whichever way a file was cut; cutting every
    // file like the first index finds the most.
    for (Surveyed &surveyed : targets) {
        const ChunkIndex *index = surveyed.index ? &*surveyed.index : nullptr;
        surveyed.alreadyThere = scanFile(surveyed.target.localPath, needed, *parameters, index) &&
                                index->parameters.average == parameters->average &&
                                index->parameters.minimum == parameters->minimum &&
                                index->parameters.maximum == parameters->maximum;
        scanFile(leftoverSource(surveyed.target.localPath), needed, *parameters, nullptr);
    }
    // The other files may be many gigabytes, and an old version usually holds
    // nearly every chunk of its new one: they are read when what is still missing
    // is worth it, a disk reading about sixteen times as fast as a line brings.
    qint64 missing = 0, otherBytes = 0;
    std::unordered_set<ChunkHash, ChunkHashHasher> counted;
    for (const Surveyed &surveyed : targets)
        if (surveyed.index)
            for (const IndexedChunk &chunk : surveyed.index->chunks)
                if (!locations.find(chunk.hash) && counted.insert(chunk.hash).second)
                    missing += chunk.size;
    for (const QByteArray &path : otherSources)
        otherBytes += QFileInfo(QFile::decodeName(path)).size();
    for (std::size_t at = 0; at < otherSources.size() && missing * 16 >= otherBytes; ++at)
        scanFile(otherSources[at], needed, *parameters, nullptr);
    scanned = true;
}

void ChunkSurvey::Work::plan()
{
    std::unordered_map<ChunkHash, std::size_t, ChunkHashHasher> firstTarget;
    for (std::size_t at = 0; at < targets.size(); ++at)
        if (targets[at].index)
            for (const IndexedChunk &chunk : targets[at].index->chunks)
                firstTarget.emplace(chunk.hash, at);
    for (std::size_t at = 0; at < targets.size(); ++at) {
        if (!targets[at].index || targets[at].alreadyThere)
            continue;
        const ChunkIndex &index = *targets[at].index;
        std::unordered_set<ChunkHash, ChunkHashHasher> seen;
        std::unordered_set<std::size_t> providers;
        qint64 found = 0;
        for (const IndexedChunk &chunk : index.chunks) {
            const std::size_t first = firstTarget.at(chunk.hash);
            const bool onDiskOrRecurring = locations.find(chunk.hash) || !seen.insert(chunk.hash).second;
            if (!onDiskOrRecurring && first < at)
                providers.insert(first);
            if (onDiskOrRecurring || first < at)
                found += chunk.size;
        }
        targets[at].worthBuilding = found * 8 >= index.fileSize;
        if (targets[at].worthBuilding)
            for (std::size_t provider : providers)
                targets[provider].provider = true;
    }
}

ChunkSurvey::ChunkSurvey(const std::vector<QByteArray> &bases, std::vector<Target> targets,
                         std::vector<QByteArray> otherSources, TransferPolicy policy)
    : work(std::make_unique<Work>(policy))
{
    for (Target &target : targets) {
        const QByteArray partial = target.localPath + partialFileSuffix;
        if (isPlainFile(partial)) {
            QFile::remove(QFile::decodeName(leftoverSource(target.localPath)));
            QFile::rename(QFile::decodeName(partial), QFile::decodeName(leftoverSource(target.localPath)));
        }
        Work::Surveyed surveyed;
        surveyed.target = target;
        surveyed.indexRequest = work->engine.add(requestWithMirrors(
            downloadUrls(bases, "", chunkIndexPath(target.expected.chunkIndexSha256)), {}, maximumIndexSize));
        if (!target.expected.chunkDeltasSha256.isEmpty())
            surveyed.deltasRequest = work->engine.add(requestWithMirrors(
                downloadUrls(bases, "", chunkDeltasPath(target.expected.chunkDeltasSha256)), {},
                maximumIndexSize));
        work->targets.push_back(std::move(surveyed));
    }
    for (QByteArray &path : otherSources)
        if (std::none_of(work->targets.begin(), work->targets.end(),
                         [&](const Work::Surveyed &surveyed) { return surveyed.target.localPath == path; }))
            work->otherSources.push_back(std::move(path));
}

ChunkSurvey::~ChunkSurvey()
{
    work->stopScanning = true;
    if (work->scanner.joinable())
        work->scanner.join();
}

bool ChunkSurvey::run(int waitMs)
{
    Work &w = *work;
    if (w.done)
        return false;
    if (w.engine.wasCancelled()) {
        w.stopScanning = true;
        if (w.scanner.joinable())
            w.scanner.join();
        w.done = true;
        return false;
    }
    if (!w.indexesTaken) {
        if (!w.engine.run(waitMs))
            w.takeIndexes();
    } else if (w.scanned) {
        w.scanner.join();
        w.plan();
        w.done = true;
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(waitMs, 5)));
    }
    return !w.done;
}

void ChunkSurvey::cancel()
{
    work->engine.cancel();
}

bool ChunkSurvey::wasCancelled() const
{
    return work->engine.wasCancelled();
}

const ChunkDeltas *ChunkSurvey::deltas(std::size_t target) const
{
    const auto &deltas = work->targets[target].deltas;
    return deltas ? &*deltas : nullptr;
}

const ChunkIndex *ChunkSurvey::index(std::size_t target) const
{
    const auto &index = work->targets[target].index;
    return index ? &*index : nullptr;
}

bool ChunkSurvey::alreadyThere(std::size_t target) const
{
    return work->targets[target].alreadyThere;
}

bool ChunkSurvey::worthBuilding(std::size_t target) const
{
    return work->targets[target].worthBuilding;
}

bool ChunkSurvey::isProvider(std::size_t target) const
{
    return work->targets[target].provider;
}

ChunkLocations &ChunkSurvey::locations()
{
    return work->locations;
}

qint64 ChunkSurvey::bytesReceived() const
{
    return work->engine.bytesReceived();
}

QByteArray ChunkSurvey::leftoverSource(const QByteArray &localPath)
{
    return localPath + partialFileSuffix + ".source";
}
