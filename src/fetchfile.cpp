#include "fetchfile.h"

#include "chunkpatch.h"
#include "filedownloader.h"
#include "messages.h"
#include "names.h"
#include "partialfile.h"
#include "transferengine.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QStorageInfo>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <thread>

bool enoughDiskSpace(QWidget *parent, const char *folder, qint64 neededBytes)
{
    const QStorageInfo storage(QFile::decodeName(folder));
    if (!storage.isValid() || storage.bytesAvailable() >= neededBytes)
        return true;
    const auto megabytes = [](qint64 bytes) { return QString::number((bytes + (1 << 20) - 1) >> 20); };
    showErrorMessage(parent,
                     QString::fromLatin1("N\xe3o h\xe1 espa\xe7o livre suficiente no disco: s\xe3o "
                                         "necess\xe1rios %1 MB e h\xe1 %2 MB livres. Libere espa\xe7o "
                                         "e tente de novo")
                         .arg(megabytes(neededBytes), megabytes(storage.bytesAvailable())));
    return false;
}

void showRefusedNameMessage(QWidget *parent, const QByteArray &name)
{
    consoleMessage(QByteArray("Nome recusado na lista de atualiza\xc3\xa7\xc3\xb5"
                              "es: " +
                              name.toPercentEncoding("/"))
                       .constData());
    showErrorMessage(parent, QString::fromLatin1("A lista de atualiza\xe7\xf5"
                                                 "es traz um nome de arquivo que o launcher recusa: \"") +
                                 QString::fromUtf8(name) +
                                 QString::fromLatin1("\". Por favor contate o suporte"));
}

namespace {

// How an item comes to lie complete beside its target.
enum class Arrival { Transfer, Patched, AlreadyThere };

// Chunks pay where the player has an older version, what a patch cut short
// left, or other files of the server that may share content; a first install
// streams the whole file in one request.
bool worthPatching(const FetchItem &item, const std::vector<QByteArray> &chunkSources)
{
    const auto exists = [](const QByteArray &path) { return QFileInfo::exists(QFile::decodeName(path)); };
    return !item.expected.chunkIndexSha256.isEmpty() && !item.expected.size.isEmpty() &&
           !item.expected.sha256.isEmpty() &&
           (exists(item.localPath) || exists(item.localPath + partialFileSuffix) ||
            exists(ChunkPatch::leftoverSource(item.localPath)) ||
            std::any_of(chunkSources.begin(), chunkSources.end(), exists));
}

// The new version built from the chunks the player lacks; Unavailable sends the
// item to a whole download.
// The bar counts the bytes of all the items; done is what earlier items hold.
ChunkPatch::Result patchInChunks(FileDownloader &downloader, const QByteArray &downloadPath,
                                 const FetchItem &item, const char *displayName, qint64 done, qint64 total,
                                 const std::vector<QByteArray> &chunkSources)
{
    std::vector<QByteArray> others;
    std::copy_if(chunkSources.begin(), chunkSources.end(), std::back_inserter(others),
                 [&](const QByteArray &source) { return source != item.localPath; });
    ChunkPatch patch(downloadPath, item.localPath, item.expected, std::move(others));
    ChunkPatch::Result result = ChunkPatch::Result::Working;
    downloader.drive(
        displayName,
        [&] {
            result = patch.run(20);
            return result == ChunkPatch::Result::Working;
        },
        [&] {
            return FileDownloader::Progress{done + patch.bytesWritten(),
                                            std::max(total, done + patch.fileSize()), patch.bytesReceived()};
        });
    if (result == ChunkPatch::Result::Working) // the window cancelled between two slices
        result = ChunkPatch::Result::Cancelled;
    return result;
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

FetchResult fetchFiles(FileDownloader &downloader, const QByteArray &downloadPath, const char *folder,
                       const std::vector<FetchItem> &items, const char *displayName,
                       const std::function<void(std::size_t)> &onCommitted, std::size_t *stoppedAt,
                       const std::vector<QByteArray> &chunkSources)
{
    if (stoppedAt)
        *stoppedAt = 0;
    // Items up to the first refused name are fetched; that one fails in its turn.
    // Files published in chunks are patched first, one after the other; the
    // rest are fetched side by side.
    TransferEngine engine;
    std::vector<Arrival> arrivals;
    std::vector<std::size_t> requests;
    qint64 total = 0;
    for (const FetchItem &item : items)
        total += item.expected.size.toLongLong();
    qint64 patched = 0; // the bytes of the items patched, or already there
    for (const FetchItem &item : items) {
        // A file stored in the game folder itself must not be one of the launcher's own.
        const bool refused =
            item.localPath == item.name ? !isLauncherFileName(item.name) : !isSafeRelativeName(item.name);
        if (refused)
            break;
        Arrival arrival = Arrival::Transfer;
        if (worthPatching(item, chunkSources)) {
            switch (
                patchInChunks(downloader, downloadPath, item, displayName, patched, total, chunkSources)) {
            case ChunkPatch::Result::Built:
                arrival = Arrival::Patched;
                break;
            case ChunkPatch::Result::AlreadyThere:
                arrival = Arrival::AlreadyThere;
                break;
            case ChunkPatch::Result::Cancelled:
                return FetchResult::Cancelled;
            default:
                break;
            }
            if (arrival != Arrival::Transfer)
                patched += item.expected.size.toLongLong();
        }
        arrivals.push_back(arrival);
        requests.push_back(
            arrival == Arrival::Transfer
                ? engine.add({downloadUrl(downloadPath, folder, item.name), item.localPath, 0, item.expected})
                : 0);
    }
    const std::size_t fetched = arrivals.size();

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
