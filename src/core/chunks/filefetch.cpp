#include "chunks/filefetch.h"

#include "chunks/chunkpatch.h"
#include "chunks/chunksurvey.h"
#include "chunks/cutrecord.h"
#include "chunks/filedelta.h"
#include "chunks/filepacks.h"
#include "chunks/packunpacker.h"
#include "transfer/transferengine.h"
#include "messages.h"
#include "playertexts.h"
#include "names.h"
#include "transfer/partialfile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace {

// How an item comes to lie complete beside its target (Packed: taken out of its
// pack by the unpacker).
enum class Arrival { Transfer, Packed, Patched, AlreadyThere };

bool exists(const QByteArray &path)
{
    return QFileInfo::exists(QFile::decodeName(path));
}

// A file published in chunks, unless a download of the whole file was cut
// short: continuing that is cheaper than any patch.
bool canBeBuiltFromChunks(const FetchItem &item)
{
    return !item.expected.chunkIndexSha256.isEmpty() && !item.expected.size.isEmpty() &&
           !item.expected.sha256.isEmpty() && !exists(TransferEngine::resumeRecordPath(item.localPath));
}

// Chunks may pay where the player has an older version, what a build cut short
// left, other files of the server, or where several files of this run may share
// content; a single new file streams whole in one request, a large one after its
// index, which is kept as its cut.
bool worthSurveying(const std::vector<FetchItem> &items, const std::vector<std::size_t> &candidates,
                    const std::vector<QByteArray> &chunkSources)
{
    return candidates.size() > 1 || std::any_of(chunkSources.begin(), chunkSources.end(), exists) ||
           std::any_of(candidates.begin(), candidates.end(), [&](std::size_t at) {
               const QByteArray &path = items[at].localPath;
               return exists(path) || exists(path + partialFileSuffix) ||
                      exists(ChunkSurvey::leftoverSource(path)) ||
                      items[at].expected.bytes() >= smallestFileRecordedAlone;
           });
}

void reportWholeFile(const QByteArray &localPath, const QByteArray &why)
{
    consoleMessage(
        QByteArray("Pedaços indisponíveis, baixando o arquivo inteiro: " + localPath + " (" + why + ')')
            .constData());
}

// Renaming a large file over its old version makes some file systems (ext4)
// write the new one out first, for a few hundred milliseconds: that happens
// beside the caller's thread, which keeps its turns.
constexpr qint64 renamedAside = 16 << 20;

} // namespace

struct FileFetch::Work {
    enum class Step { Surveying, Building, FetchingProvider, Transferring, Renaming };

    Work(const FetchPlan &plan, TransferPolicy policy)
        : policy(policy), engine(policy), bases(plan.bases), folder(plan.serverFolder),
          targetFolder(plan.targetFolder), items(plan.items), onCommitted(plan.onCommitted)
    {
    }

    TransferPolicy policy;
    TransferEngine engine;
    std::vector<QByteArray> bases;
    QByteArray folder;
    QByteArray targetFolder;
    std::vector<FetchItem> items;
    std::function<void(std::size_t)> onCommitted;
    std::size_t fetched = 0; // the items before the first refused name
    qint64 total = 0;
    Step step = Step::Building;
    std::optional<RunResult> ending;
    RunResult::Ending stoppedAs = RunResult::Ending::Closing;

    std::vector<std::optional<std::size_t>> surveyed; // each item's target in the survey
    std::unique_ptr<ChunkSurvey> survey;
    std::unique_ptr<FilePatch> patch;
    qint64 patchStart = 0;    // what the items before the patched one hold
    qint64 receivedDone = 0;  // by the survey and the patches that ended
    std::size_t building = 0; // the item being decided, built or fetched first
    bool deltaTried = false;  // for the item being decided
    bool buildFailed = false; // for the item being decided: its index did not make it
    std::vector<Arrival> arrivals;
    std::vector<const ChunkIndex *> cuts; // each item's index, where it is known to cut the file
    std::vector<std::size_t> requests;
    qint64 patched = 0; // the bytes of the items built from chunks, or already there

    // New small files come in their packs where most of a pack is new files of
    // this run: the bytes of those, by pack, then the pack's request.
    std::unordered_map<QByteArray, qint64> newInPack;
    std::unordered_map<QByteArray, std::size_t> packRequests;
    std::unordered_map<QByteArray, std::vector<PackUnpacker::File>> packFiles;
    std::unordered_set<QByteArray> packsHandedOver;
    std::unique_ptr<PackUnpacker> unpacker;

    std::size_t committed = 0;
    std::thread renaming;
    std::atomic<bool> renameDone{false};
    bool renamed = false;

    const ChunkIndex *indexOf(std::size_t at) const
    {
        return survey && surveyed[at] ? survey->index(*surveyed[at]) : nullptr;
    }
    void finish(RunResult how)
    {
        ending = how;
        engine.cancel(); // what runs after a failure is kept for the next run
    }
    void build(int waitMs);
    void countNewInPacks();
    bool comesInPack(const FetchItem &item) const;
    std::size_t packRequest(const FetchItem &item);
    void handOverArrivedPacks();
    bool commitFromPack();
    std::size_t wholeFileRequest(const FetchItem &item);
    void arrived(Arrival arrival);
    void fetchProvider(int waitMs);
    void commitInOrder();
    bool commitNow(Arrival arrival, std::size_t request, const QByteArray &localPath);
    void afterCommit();
    void continueRenaming(int waitMs);
};

void FileFetch::Work::build(int waitMs)
{
    if (building == fetched) {
        step = Step::Transferring;
        return;
    }
    const FetchItem &item = items[building];
    const ChunkIndex *index = indexOf(building);
    if (patch) {
        const FilePatch::Result result = patch->run(waitMs);
        if (result == FilePatch::Result::Working)
            return;
        receivedDone += patch->bytesReceived();
        const QByteArray reason = patch->reason();
        patch.reset();
        if (result == FilePatch::Result::Cancelled)
            return finish({stoppedAs});
        buildFailed = result == FilePatch::Result::Unavailable;
        if (buildFailed)
            reportWholeFile(item.localPath, reason);
        return arrived(result == FilePatch::Result::Built ? Arrival::Patched : Arrival::Transfer);
    }
    // A small file's delta against the version the player has, where the list
    // offers one and that version is there.
    if (!deltaTried && offersDelta(item.expected) && exists(item.localPath)) {
        deltaTried = true;
        patchStart = patched + engine.bytesStored();
        patch = std::make_unique<FileDelta>(bases, item.localPath, item.expected, policy);
        return;
    }
    if (survey && surveyed[building] && !index)
        reportWholeFile(item.localPath, "índice ausente ou danificado");
    if (index && survey->alreadyThere(*surveyed[building]))
        return arrived(Arrival::AlreadyThere);
    if (index && survey->worthBuilding(*surveyed[building])) {
        patchStart = patched + engine.bytesStored();
        patch =
            std::make_unique<ChunkPatch>(bases, item.localPath, item.expected, *index, survey->locations(),
                                         policy, survey->deltas(*surveyed[building]));
        return;
    }
    arrived(Arrival::Transfer);
}

// A file that is there already is checked, and one begun is continued, by its
// own request.
bool FileFetch::Work::comesInPack(const FetchItem &item) const
{
    if (!offersPack(item.expected) || exists(item.localPath) ||
        exists(TransferEngine::resumeRecordPath(item.localPath)))
        return false;
    const auto found = newInPack.find(item.expected.packSha256.toLower());
    return found != newInPack.end() && found->second * 2 >= item.expected.packSize.toLongLong();
}

void FileFetch::Work::countNewInPacks()
{
    for (std::size_t at = 0; at < fetched; ++at) {
        const FetchItem &item = items[at];
        if (offersPack(item.expected) && !exists(item.localPath))
            newInPack[item.expected.packSha256.toLower()] += item.expected.bytes();
    }
}

std::size_t FileFetch::Work::packRequest(const FetchItem &item)
{
    const QByteArray sha256 = item.expected.packSha256.toLower();
    packFiles[sha256].push_back({building, item.expected, item.localPath});
    if (const auto found = packRequests.find(sha256); found != packRequests.end())
        return found->second;
    if (!unpacker)
        unpacker = std::make_unique<PackUnpacker>(fetched);
    // Each file taken out is checked against its own SHA-256, which vouches for
    // every byte used: the pack's hash would be a second pass over them.
    TransferRequest pack =
        requestWithMirrors(downloadUrls(bases, "", packPath(sha256)), packDownloadPath(targetFolder, sha256),
                           0, ContentCheck{item.expected.packSize, {}});
    pack.continuedLater = false;
    const std::size_t request = engine.add(std::move(pack));
    packRequests.emplace(sha256, request);
    return request;
}

// Each pack is unpacked as soon as it is complete, whichever comes first.
void FileFetch::Work::handOverArrivedPacks()
{
    for (const auto &[sha256, request] : packRequests) {
        if (!engine.isFinished(request) || !packsHandedOver.insert(sha256).second)
            continue;
        if (engine.commit(request))
            unpacker->unpack(packDownloadPath(targetFolder, sha256), packFiles[sha256]);
        else
            unpacker->fail(packFiles[sha256]);
    }
}

std::size_t FileFetch::Work::wholeFileRequest(const FetchItem &item)
{
    return engine.add(requestWithMirrors(downloadUrls(bases, folder.constData(), item.name), item.localPath,
                                         0, item.expected));
}

// The next file, taken out of its pack; false while it is not ready. A pack
// that could not be fetched, or does not hold the file where the list says,
// costs the file's own request.
bool FileFetch::Work::commitFromPack()
{
    const FetchItem &item = items[committed];
    switch (unpacker->state(committed)) {
    case PackUnpacker::State::Waiting:
        return false;
    case PackUnpacker::State::Ready:
        if (!unpacker->commit(committed, item.localPath)) {
            finish(RunResult::failure(PlayerText::inUse));
            return false;
        }
        afterCommit();
        return true;
    case PackUnpacker::State::Failed:
        reportWholeFile(item.localPath, "pacote ausente ou danificado");
        arrivals[committed] = Arrival::Transfer;
        requests[committed] = wholeFileRequest(item);
        return true;
    }
    return false;
}

void FileFetch::Work::arrived(Arrival arrival)
{
    const FetchItem &item = items[building];
    const ChunkIndex *index = indexOf(building);
    if (arrival == Arrival::Transfer && comesInPack(item))
        arrival = Arrival::Packed;
    if (arrival == Arrival::Patched || arrival == Arrival::AlreadyThere)
        patched += item.expected.bytes();
    arrivals.push_back(arrival);
    cuts.push_back(buildFailed ? nullptr : index);
    requests.push_back(arrival == Arrival::Transfer ? wholeFileRequest(item)
                       : arrival == Arrival::Packed ? packRequest(item)
                                                    : 0);
    if (arrival == Arrival::Patched && index)
        survey->locations().addIndexedFile(item.localPath + partialFileSuffix, *index);
    // Files after this one take chunks from it: it comes whole first.
    if (index && arrival == Arrival::Transfer && survey->isProvider(*surveyed[building])) {
        step = Step::FetchingProvider;
        return;
    }
    ++building;
    deltaTried = buildFailed = false;
}

void FileFetch::Work::fetchProvider(int waitMs)
{
    engine.run(waitMs);
    if (!engine.isFinished(requests.back()))
        return;
    if (engine.outcome(requests.back()).kind == TransferOutcome::Kind::Stored)
        survey->locations().addIndexedFile(items[building].localPath + partialFileSuffix, *indexOf(building));
    ++building;
    deltaTried = buildFailed = false;
    step = Step::Building;
}

bool FileFetch::Work::commitNow(Arrival arrival, std::size_t request, const QByteArray &localPath)
{
    return arrival == Arrival::Patched ? PartialFile::commitFinished(localPath) : engine.commit(request);
}

void FileFetch::Work::afterCommit()
{
    const FetchItem &item = items[committed];
    QFile::remove(QFile::decodeName(ChunkSurvey::leftoverSource(item.localPath)));
    if (cuts[committed])
        recordCut(item.localPath, *cuts[committed]);
    else if (!item.expected.chunkIndexSha256.isEmpty())
        forgetCut(item.localPath);
    onCommitted(committed);
    ++committed;
}

void FileFetch::Work::commitInOrder()
{
    // A pack's files are ready all at once: putting them in place takes turns
    // with the caller's thread.
    const auto started = std::chrono::steady_clock::now();
    if (unpacker)
        handOverArrivedPacks();
    while (committed < fetched) {
        if (std::chrono::steady_clock::now() - started > std::chrono::milliseconds(8))
            return;
        const std::size_t request = requests[committed];
        const Arrival arrival = arrivals[committed];
        if (arrival == Arrival::Transfer || arrival == Arrival::Packed) {
            if (!engine.isFinished(request))
                return;
            if (arrival == Arrival::Packed &&
                engine.outcome(request).kind != TransferOutcome::Kind::Cancelled) {
                if (!commitFromPack())
                    return;
                continue;
            }
            if (engine.outcome(request).kind != TransferOutcome::Kind::Stored)
                return finish(RunResult::fromOutcome(engine.outcome(request), stoppedAs));
        }
        const QByteArray &localPath = items[committed].localPath;
        if (arrival != Arrival::AlreadyThere &&
            QFileInfo(QFile::decodeName(localPath + partialFileSuffix)).size() >= renamedAside) {
            renameDone = false;
            renaming = std::thread([this, arrival, request, localPath] {
                renamed = commitNow(arrival, request, localPath);
                renameDone = true;
            });
            step = Step::Renaming;
            return;
        }
        if (arrival != Arrival::AlreadyThere && !commitNow(arrival, request, localPath))
            return finish(RunResult::failure(PlayerText::inUse));
        afterCommit();
    }
    finish(fetched == items.size() ? RunResult() : RunResult::refusedName(items[fetched].name));
}

FileFetch::FileFetch(const FetchPlan &plan, TransferPolicy policy)
    : work(std::make_unique<Work>(plan, policy))
{
    Work &w = *work;
    // A file stored in the game folder itself must not be one of the launcher's own.
    const auto accepted = [](const FetchItem &item) {
        return item.expected.hasUsableSize() &&
               (item.localPath == item.name ? isLauncherFileName(item.name) : isSafeRelativeName(item.name));
    };
    while (w.fetched < w.items.size() && accepted(w.items[w.fetched]))
        ++w.fetched;
    w.total = plan.bytes();
    w.countNewInPacks();

    // Files published in chunks are looked at together first, then built one
    // after the other; the rest are fetched side by side.
    std::vector<std::size_t> candidates;
    w.surveyed.resize(w.fetched);
    for (std::size_t at = 0; at < w.fetched; ++at)
        if (canBeBuiltFromChunks(w.items[at])) {
            w.surveyed[at] = candidates.size();
            candidates.push_back(at);
        }
    if (!candidates.empty() && worthSurveying(w.items, candidates, plan.chunkSources)) {
        std::vector<ChunkSurvey::Target> targets;
        for (std::size_t at : candidates)
            targets.push_back({w.items[at].localPath, w.items[at].expected});
        w.survey = std::make_unique<ChunkSurvey>(w.bases, std::move(targets), plan.chunkSources, policy);
        w.step = Work::Step::Surveying;
    }
}

FileFetch::~FileFetch()
{
    if (work->renaming.joinable())
        work->renaming.join();
}

void FileFetch::stop(RunResult::Ending why)
{
    Work &w = *work;
    w.stoppedAs = why;
    w.engine.cancel();
    if (w.survey)
        w.survey->cancel();
    if (w.patch)
        w.patch->cancel();
}

bool FileFetch::run(int waitMs)
{
    Work &w = *work;
    if (w.ending)
        return false;
    // A patch under way notices the stop itself and keeps what it built; a
    // rename under way ends first; a transfer's cancel is its outcome.
    if ((w.step == Work::Step::Surveying || w.step == Work::Step::FetchingProvider ||
         (w.step == Work::Step::Building && !w.patch)) &&
        w.engine.wasCancelled()) {
        w.finish({w.stoppedAs});
        return false;
    }
    switch (w.step) {
    case Work::Step::Surveying:
        if (w.survey->run(waitMs))
            break;
        w.receivedDone += w.survey->bytesReceived();
        if (w.survey->wasCancelled())
            w.finish({w.stoppedAs});
        w.step = Work::Step::Building;
        break;
    case Work::Step::Building:
        w.build(waitMs);
        break;
    case Work::Step::FetchingProvider:
        w.fetchProvider(waitMs);
        break;
    case Work::Step::Transferring:
        w.engine.run(waitMs);
        w.commitInOrder();
        break;
    case Work::Step::Renaming:
        w.continueRenaming(waitMs);
        break;
    }
    return !w.ending;
}

void FileFetch::Work::continueRenaming(int waitMs)
{
    if (!renameDone) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(waitMs, 2)));
        return;
    }
    renaming.join();
    if (!renamed)
        return finish(RunResult::failure(PlayerText::inUse));
    afterCommit();
    step = Step::Transferring;
    commitInOrder();
}

TransferProgress FileFetch::progress() const
{
    const Work &w = *work;
    qint64 received = w.receivedDone + w.engine.bytesReceived();
    if (w.step == Work::Step::Surveying)
        return {0, w.total, received + w.survey->bytesReceived()};
    if (w.patch)
        return {w.patchStart + w.patch->bytesWritten(), w.total, received + w.patch->bytesReceived()};
    if (w.step == Work::Step::Building || w.step == Work::Step::FetchingProvider)
        return {w.patched + w.engine.bytesStored(), w.total, received};
    return {w.patched + w.engine.bytesStored(), w.patched + w.engine.bytesExpected(), received};
}

RunResult FileFetch::result() const
{
    RunResult result = work->ending.value_or(RunResult{work->stoppedAs});
    result.committed = work->committed;
    return result;
}
