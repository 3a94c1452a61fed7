#include "fetchfile.h"

#include "chunkpatch.h"
#include "chunksurvey.h"
#include "filedownloader.h"
#include "messages.h"
#include "names.h"
#include "partialfile.h"
#include "playertexts.h"
#include "transferengine.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QStorageInfo>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

bool enoughDiskSpace(QWidget *parent, const char *folder, qint64 neededBytes)
{
    const QStorageInfo storage(QFile::decodeName(folder));
    if (!storage.isValid() || storage.bytesAvailable() >= neededBytes)
        return true;
    const auto megabytes = [](qint64 bytes) { return (bytes + (1 << 20) - 1) >> 20; };
    showErrorMessage(
        parent, PlayerText::notEnoughDiskSpace(megabytes(neededBytes), megabytes(storage.bytesAvailable())));
    return false;
}

void showRefusedNameMessage(QWidget *parent, const QByteArray &name)
{
    consoleMessage(QByteArray("Nome recusado na lista de atualiza\xc3\xa7\xc3\xb5"
                              "es: " +
                              name.toPercentEncoding("/"))
                       .constData());
    showErrorMessage(parent, PlayerText::refusedName(name));
}

namespace {

// How an item comes to lie complete beside its target.
enum class Arrival { Transfer, Patched, AlreadyThere };

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
// content; a single new file streams whole in one request.
bool worthSurveying(const std::vector<FetchItem> &items, const std::vector<std::size_t> &candidates,
                    const std::vector<QByteArray> &chunkSources)
{
    return candidates.size() > 1 || std::any_of(chunkSources.begin(), chunkSources.end(), exists) ||
           std::any_of(candidates.begin(), candidates.end(), [&](std::size_t at) {
               const QByteArray &path = items[at].localPath;
               return exists(path) || exists(path + partialFileSuffix) ||
                      exists(ChunkSurvey::leftoverSource(path));
           });
}

void reportWholeFile(const QByteArray &localPath, const QByteArray &why)
{
    consoleMessage(QByteArray("Peda\xc3\xa7os indispon\xc3\xadveis, baixando o arquivo inteiro: " +
                              localPath + " (" + why + ')')
                       .constData());
}

// Renaming a large file over its old version makes some file systems (ext4)
// write the new one out first, for a few hundred milliseconds: that happens
// beside the window's thread, which keeps its turns.
bool putInPlace(const QByteArray &localPath, const std::function<bool()> &rename)
{
    constexpr qint64 largeFile = 16 << 20;
    if (QFileInfo(QFile::decodeName(localPath + partialFileSuffix)).size() < largeFile)
        return rename();
    std::atomic<bool> done{false};
    bool renamed = false;
    std::thread renaming([&] {
        renamed = rename();
        done = true;
    });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    renaming.join();
    return renamed;
}

} // namespace

FetchResult fetchFiles(FileDownloader &downloader, const std::vector<QByteArray> &bases, const char *folder,
                       const std::vector<FetchItem> &items, const char *displayName,
                       const std::function<void(std::size_t)> &onCommitted, std::size_t *stoppedAt,
                       const std::vector<QByteArray> &chunkSources)
{
    if (stoppedAt)
        *stoppedAt = 0;
    // The engine comes first: a window that closes from now on cancels it.
    TransferEngine engine;
    // Items up to the first refused name are fetched; that one fails in its turn.
    // A file stored in the game folder itself must not be one of the launcher's own.
    std::size_t fetched = 0;
    while (fetched < items.size() &&
           (items[fetched].localPath == items[fetched].name ? isLauncherFileName(items[fetched].name)
                                                            : isSafeRelativeName(items[fetched].name)))
        ++fetched;
    qint64 total = 0;
    for (const FetchItem &item : items)
        total += item.expected.size.toLongLong();

    // Files published in chunks are looked at together first, then built one
    // after the other; the rest are fetched side by side.
    std::vector<std::size_t> candidates;
    std::vector<std::optional<std::size_t>> surveyed(fetched);
    for (std::size_t at = 0; at < fetched; ++at)
        if (canBeBuiltFromChunks(items[at])) {
            surveyed[at] = candidates.size();
            candidates.push_back(at);
        }
    std::unique_ptr<ChunkSurvey> survey;
    if (!candidates.empty() && worthSurveying(items, candidates, chunkSources)) {
        std::vector<ChunkSurvey::Target> targets;
        for (std::size_t at : candidates)
            targets.push_back({items[at].localPath, items[at].expected});
        survey = std::make_unique<ChunkSurvey>(bases, std::move(targets), chunkSources);
        downloader.drive(
            displayName, [&] { return survey->run(20); },
            [&] {
                return FileDownloader::Progress{0, total, survey->bytesReceived()};
            });
        if (survey->wasCancelled() || engine.wasCancelled())
            return FetchResult::Cancelled;
    }

    std::vector<Arrival> arrivals;
    std::vector<std::size_t> requests;
    qint64 patched = 0; // the bytes of the items built from chunks, or already there
    for (std::size_t at = 0; at < fetched; ++at) {
        const FetchItem &item = items[at];
        const std::size_t target = surveyed[at].value_or(0);
        const ChunkIndex *index = survey && surveyed[at] ? survey->index(target) : nullptr;
        if (survey && surveyed[at] && !index)
            reportWholeFile(item.localPath, "\xc3\xadndice ausente ou danificado");
        Arrival arrival = Arrival::Transfer;
        if (index && survey->alreadyThere(target)) {
            arrival = Arrival::AlreadyThere;
        } else if (index && survey->worthBuilding(target)) {
            ChunkPatch patch(bases, item.localPath, item.expected, *index, survey->locations());
            ChunkPatch::Result result = ChunkPatch::Result::Working;
            const qint64 done = patched + engine.bytesStored();
            downloader.drive(
                displayName, [&] { return (result = patch.run(20)) == ChunkPatch::Result::Working; },
                [&] {
                    return FileDownloader::Progress{done + patch.bytesWritten(), total,
                                                    patch.bytesReceived()};
                });
            if (result == ChunkPatch::Result::Cancelled || engine.wasCancelled())
                return FetchResult::Cancelled;
            if (result == ChunkPatch::Result::Unavailable)
                reportWholeFile(item.localPath, patch.reason());
            else
                arrival = Arrival::Patched;
        }
        if (arrival != Arrival::Transfer)
            patched += item.expected.size.toLongLong();
        arrivals.push_back(arrival);
        requests.push_back(arrival == Arrival::Transfer
                               ? engine.add(requestWithMirrors(downloadUrls(bases, folder, item.name),
                                                               item.localPath, 0, item.expected))
                               : 0);
        if (index && arrival == Arrival::Transfer && survey->isProvider(target)) {
            // Files after this one take chunks from it: it comes whole first.
            downloader.drive(
                displayName, [&] { return engine.run(20) && !engine.isFinished(requests.back()); },
                [&] {
                    return FileDownloader::Progress{patched + engine.bytesStored(), total,
                                                    engine.bytesReceived()};
                });
            if (engine.wasCancelled())
                return FetchResult::Cancelled;
            if (engine.outcome(requests.back()).kind == TransferOutcome::Kind::Stored)
                survey->locations().addIndexedFile(item.localPath + partialFileSuffix, *index);
        }
        if (arrival == Arrival::Patched)
            survey->locations().addIndexedFile(item.localPath + partialFileSuffix, *index);
    }

    std::size_t committed = 0;
    bool commitFailed = false;
    const auto commitInOrder = [&] {
        for (; committed < fetched; ++committed) {
            const std::size_t request = requests[committed];
            if (arrivals[committed] == Arrival::Transfer) {
                if (!engine.isFinished(request))
                    return true;
                if (engine.outcome(request).kind != TransferOutcome::Kind::Stored)
                    return false;
            }
            const Arrival arrival = arrivals[committed];
            const QByteArray &localPath = items[committed].localPath;
            const bool inPlace = arrival == Arrival::AlreadyThere || putInPlace(localPath, [&] {
                                     return arrival == Arrival::Patched
                                                ? PartialFile::commitFinished(localPath)
                                                : engine.commit(request);
                                 });
            if (!inPlace) {
                commitFailed = true;
                return false;
            }
            QFile::remove(QFile::decodeName(ChunkSurvey::leftoverSource(localPath)));
            onCommitted(committed);
        }
        return true;
    };
    downloader.drive(
        displayName,
        [&] {
            const bool unfinished = engine.run(20);
            return commitInOrder() && unfinished;
        },
        [&] {
            return FileDownloader::Progress{patched + engine.bytesStored(), patched + engine.bytesExpected(),
                                            engine.bytesReceived()};
        });
    commitInOrder();
    engine.cancel(); // what runs after a failure is kept for the next run
    if (stoppedAt)
        *stoppedAt = committed;

    if (committed == items.size())
        return FetchResult::Stored;
    if (committed == fetched) {
        showRefusedNameMessage(downloader.statusLabel, items[committed].name);
        return FetchResult::Failed;
    }
    if (commitFailed) {
        downloader.showFailure({TransferOutcome::Kind::StoreError});
        return FetchResult::Failed;
    }
    downloader.showFailure(engine.outcome(requests[committed]));
    return downloader.wasCancelled() ? FetchResult::Cancelled : FetchResult::Failed;
}
