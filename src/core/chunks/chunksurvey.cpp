#include "chunks/chunksurvey.h"

#include "chunks/cutrecord.h"
#include "chunks/indexpages.h"
#include "chunks/parallelcut.h"

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
    // A player's file cut into chunks, in file order.
    struct Cut {
        std::size_t source = 0; // in locations
        std::vector<IndexedChunk> chunks;
        bool recorded = false; // taken from the file's record, not read
    };

    // Where a page of an index comes from: a request, or a span of a cut file.
    struct PageSource {
        std::optional<std::size_t> request;
        const Cut *cut = nullptr;
        PageSpan span{};
    };

    struct Surveyed {
        Target target;
        std::optional<std::size_t> indexRequest, pagesRequest, deltasRequest;
        std::optional<ChunkIndex> index;
        std::optional<IndexPages> pages;
        std::vector<PageSource> pageSources; // one for each page

        QByteArray deltasBody;
        std::optional<ChunkDeltas> deltas;
        Cut onDisk, leftover;
        bool alreadyThere = false;
        bool worthBuilding = false;
        bool provider = false;
    };

    enum class Stage { Documents, Cutting, Pages, Scanning, Done };

    Work(const std::vector<QByteArray> &bases, TransferPolicy policy) : bases(bases), engine(policy) {}

    std::vector<QByteArray> bases;
    std::vector<Surveyed> targets;
    std::vector<QByteArray> otherSources;
    TransferEngine engine;
    Stage stage = Stage::Documents;
    ChunkParameters parameters;

    std::thread worker;
    std::atomic<bool> stopScanning{false};
    std::atomic<bool> workDone{false};
    ChunkLocations locations; // the worker's while it runs

    std::size_t request(const QByteArray &path);
    // Takes what the last requests brought; true when it asked for more.
    bool takeArrived();
    void takeIndex(Surveyed &surveyed);
    void takePages(Surveyed &surveyed);
    void requestMissingPages();
    void startWorker(void (Work::*job)());
    bool waitForWorker(int waitMs);
    void cutTargets();
    void scan();
    void plan();
    Cut cutFile(const QByteArray &path, bool recordTaken);
    void scanFile(const QByteArray &path, const std::unordered_set<ChunkHash, ChunkHashHasher> &needed);
};

std::size_t ChunkSurvey::Work::request(const QByteArray &path)
{
    return engine.add(requestWithMirrors(downloadUrls(bases, "", path), {}, maximumIndexSize));
}

void ChunkSurvey::Work::takeIndex(Surveyed &surveyed)
{
    const QByteArray published = engine.takeBody(*surveyed.indexRequest);
    if (engine.outcome(*surveyed.indexRequest).kind == TransferOutcome::Kind::Stored &&
        Sha256::hexOf(published) == surveyed.target.expected.chunkIndexSha256.toLower())
        surveyed.index = ChunkIndex::parse(published, surveyed.target.expected.bytes());
    surveyed.indexRequest.reset();
}

// A page that is missing, damaged or from another build costs the whole index.
void ChunkSurvey::Work::takePages(Surveyed &surveyed)
{
    std::vector<IndexedChunk> chunks;
    bool complete = true;
    for (std::size_t at = 0; at < surveyed.pages->pages.size() && complete; ++at) {
        const PageSource &source = surveyed.pageSources[at];
        if (source.request) {
            const auto entries = parsePage(engine.body(*source.request), surveyed.pages->pages[at]);
            complete = entries.has_value();
            if (complete)
                chunks.insert(chunks.end(), entries->begin(), entries->end());
        } else {
            chunks.insert(chunks.end(), source.cut->chunks.begin() + qint64(source.span.first),
                          source.cut->chunks.begin() + qint64(source.span.last));
        }
    }
    ChunkIndex index{surveyed.pages->parameters, surveyed.pages->fileSize, std::move(chunks)};
    surveyed.pageSources.clear();
    surveyed.pages.reset();
    if (complete && index.isConsistent())
        surveyed.index = std::move(index);
    else
        surveyed.indexRequest = request(chunkIndexPath(surveyed.target.expected.chunkIndexSha256));
}

bool ChunkSurvey::Work::takeArrived()
{
    bool askedMore = false;
    for (Surveyed &surveyed : targets) {
        const ContentCheck &expected = surveyed.target.expected;
        if (surveyed.indexRequest)
            takeIndex(surveyed);
        if (surveyed.deltasRequest) {
            surveyed.deltasBody = engine.takeBody(*surveyed.deltasRequest);
            surveyed.deltasRequest.reset();
        }
        if (surveyed.pagesRequest) {
            const QByteArray published = engine.takeBody(*surveyed.pagesRequest);
            if (Sha256::hexOf(published) == expected.chunkPagesSha256.toLower())
                surveyed.pages = IndexPages::parse(published, expected.bytes());
            surveyed.pagesRequest.reset();
            if (!surveyed.pages) {
                surveyed.indexRequest = request(chunkIndexPath(expected.chunkIndexSha256));
                askedMore = true;
            }
        } else if (surveyed.pages && !surveyed.pageSources.empty()) {
            takePages(surveyed);
            askedMore = askedMore || surveyed.indexRequest;
        }
    }
    return askedMore;
}

// Where more than half the pages are missing, the whole index is one request
// of about the same bytes.
void ChunkSurvey::Work::requestMissingPages()
{
    std::unordered_map<QByteArray, std::size_t> requested;
    for (Surveyed &surveyed : targets) {
        if (!surveyed.pages)
            continue;
        std::unordered_map<QByteArray, PageSource> onDisk;
        for (const Cut *cut : {&surveyed.onDisk, &surveyed.leftover})
            for (const PageSpan &span : pageSpans(cut->chunks))
                onDisk.emplace(Sha256::hexOf(pageEntries(cut->chunks, span)), PageSource{{}, cut, span});
        const auto missing = std::count_if(surveyed.pages->pages.begin(), surveyed.pages->pages.end(),
                                           [&](const IndexPage &page) { return !onDisk.count(page.sha256); });
        if (std::size_t(missing) * 2 > surveyed.pages->pages.size()) {
            surveyed.pages.reset();
            surveyed.indexRequest = request(chunkIndexPath(surveyed.target.expected.chunkIndexSha256));
            continue;
        }
        for (const IndexPage &page : surveyed.pages->pages) {
            if (const auto found = onDisk.find(page.sha256); found != onDisk.end()) {
                surveyed.pageSources.push_back(found->second);
                continue;
            }
            auto fetch = requested.find(page.sha256);
            if (fetch == requested.end())
                fetch = requested.emplace(page.sha256, request(indexPagePath(page.sha256))).first;
            surveyed.pageSources.push_back({fetch->second, nullptr, {}});
        }
    }
}

ChunkSurvey::Work::Cut ChunkSurvey::Work::cutFile(const QByteArray &path, bool recordTaken)
{
    Cut cut;
    if (!QFileInfo(QFile::decodeName(path)).isFile())
        return cut;
    cut.source = locations.addFile(path);
    std::optional<std::vector<IndexedChunk>> chunks;
    if (recordTaken && (chunks = recordedCut(path, parameters)))
        cut.recorded = true;
    else
        chunks = cutFileInChunks(path, parameters, stopScanning);
    if (chunks)
        cut.chunks = std::move(*chunks);
    return cut;
}

void ChunkSurvey::Work::scanFile(const QByteArray &path,
                                 const std::unordered_set<ChunkHash, ChunkHashHasher> &needed)
{
    QFile file(QFile::decodeName(path));
    if (!openRegularFile(file, QIODevice::ReadOnly))
        return;
    const std::size_t source = locations.addFile(path);
    forEachChunk(file, parameters, [&](qint64 offset, const char *, std::size_t, const ChunkHash &hash) {
        if (needed.count(hash))
            locations.add(hash, source, offset);
        return !stopScanning.load();
    });
}

// On the worker: every target's version on disk and what an interrupted build
// left, cut once; the pages of an index are found among them.
void ChunkSurvey::Work::cutTargets()
{
    for (Surveyed &surveyed : targets) {
        surveyed.onDisk = cutFile(surveyed.target.localPath, true);
        surveyed.leftover = cutFile(leftoverSource(surveyed.target.localPath), false);
    }
}

// On the worker: where the needed chunks lie in the cut files, then in the other
// files.
void ChunkSurvey::Work::scan()
{
    std::unordered_set<ChunkHash, ChunkHashHasher> needed;
    for (const Surveyed &surveyed : targets)
        if (surveyed.index) {
            for (const IndexedChunk &chunk : surveyed.index->chunks)
                needed.insert(chunk.hash);
            // A changed chunk is made from the one that stood at its place.
            if (surveyed.deltas)
                for (const auto &[chunk, delta] : surveyed.deltas->byChunk)
                    needed.insert(delta.previous);
        }
    const auto isIndexed = [this](const Surveyed &surveyed) {
        const ChunkIndex *index = surveyed.index ? &*surveyed.index : nullptr;
        return index && index->parameters == parameters && index->chunks == surveyed.onDisk.chunks;
    };
    for (Surveyed &surveyed : targets) {
        // Only the file's own bytes tell that it is the new version already.
        if (surveyed.onDisk.recorded && isIndexed(surveyed))
            surveyed.onDisk = cutFile(surveyed.target.localPath, false);
        for (const Cut *cut : {&surveyed.onDisk, &surveyed.leftover}) {
            qint64 offset = 0;
            for (const IndexedChunk &chunk : cut->chunks) {
                if (needed.count(chunk.hash))
                    locations.add(chunk.hash, cut->source, offset);
                offset += chunk.size;
            }
        }
        surveyed.alreadyThere = isIndexed(surveyed);
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
        scanFile(otherSources[at], needed);
}

void ChunkSurvey::Work::startWorker(void (Work::*job)())
{
    workDone = false;
    worker = std::thread([this, job] {
        (this->*job)();
        workDone = true;
    });
}

bool ChunkSurvey::Work::waitForWorker(int waitMs)
{
    if (!workDone) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(waitMs, 5)));
        return false;
    }
    worker.join();
    return true;
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
    : work(std::make_unique<Work>(bases, policy))
{
    for (Target &target : targets) {
        const QByteArray partial = target.localPath + partialFileSuffix;
        if (isPlainFile(partial)) {
            QFile::remove(QFile::decodeName(leftoverSource(target.localPath)));
            QFile::rename(QFile::decodeName(partial), QFile::decodeName(leftoverSource(target.localPath)));
        }
        Work::Surveyed surveyed;
        surveyed.target = target;
        // Pages pay where a version lies on disk to find most of them in.
        if (!target.expected.chunkPagesSha256.isEmpty() && isPlainFile(target.localPath))
            surveyed.pagesRequest = work->request(indexPagesPath(target.expected.chunkPagesSha256));
        else
            surveyed.indexRequest = work->request(chunkIndexPath(target.expected.chunkIndexSha256));
        if (!target.expected.chunkDeltasSha256.isEmpty())
            surveyed.deltasRequest = work->request(chunkDeltasPath(target.expected.chunkDeltasSha256));
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
    if (work->worker.joinable())
        work->worker.join();
}

bool ChunkSurvey::run(int waitMs)
{
    Work &w = *work;
    using Stage = Work::Stage;
    if (w.stage != Stage::Done && w.engine.wasCancelled()) {
        w.stopScanning = true;
        if (w.worker.joinable())
            w.worker.join();
        w.stage = Stage::Done;
    }
    switch (w.stage) {
    case Stage::Documents: {
        if (w.engine.run(waitMs) || w.takeArrived())
            break;
        const auto found =
            std::find_if(w.targets.begin(), w.targets.end(),
                         [](const Work::Surveyed &surveyed) { return surveyed.index || surveyed.pages; });
        // Without any index, nothing on disk is of use.
        if (found == w.targets.end()) {
            w.stage = Stage::Done;
            break;
        }
        w.parameters = found->index ? found->index->parameters : found->pages->parameters;
        w.stage = Stage::Cutting;
        w.startWorker(&Work::cutTargets);
        break;
    }
    case Stage::Cutting:
        if (!w.waitForWorker(waitMs))
            break;
        w.requestMissingPages();
        w.stage = Stage::Pages;
        break;
    case Stage::Pages:
        if (w.engine.run(waitMs) || w.takeArrived())
            break;
        for (Work::Surveyed &surveyed : w.targets)
            if (surveyed.index && !surveyed.deltasBody.isEmpty() &&
                Sha256::hexOf(surveyed.deltasBody) == surveyed.target.expected.chunkDeltasSha256.toLower())
                // Deltas that are missing or damaged cost their chunks whole, no more.
                surveyed.deltas = ChunkDeltas::parse(surveyed.deltasBody, surveyed.index->chunks.size());
        w.stage = Stage::Scanning;
        w.startWorker(&Work::scan);
        break;
    case Stage::Scanning:
        if (!w.waitForWorker(waitMs))
            break;
        w.plan();
        w.stage = Stage::Done;
        break;
    case Stage::Done:
        break;
    }
    return w.stage != Stage::Done;
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
