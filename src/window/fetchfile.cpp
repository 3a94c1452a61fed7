#include "fetchfile.h"

#include "filedownloader.h"
#include "messages.h"
#include "playertexts.h"

#include <QFile>
#include <QLabel>
#include <QStorageInfo>

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

FetchResult fetchFiles(FileDownloader &downloader, const std::vector<QByteArray> &bases, const char *folder,
                       const std::vector<FetchItem> &items, const char *displayName,
                       const std::function<void(std::size_t)> &onCommitted, std::size_t *stoppedAt,
                       const std::vector<QByteArray> &chunkSources)
{
    FileFetch fetch(bases, folder, items, onCommitted, chunkSources);
    FileFetch::Ending ending = FileFetch::Ending::Working;
    downloader.drive(
        displayName, [&] { return (ending = fetch.run(20)) == FileFetch::Ending::Working; },
        [&] { return fetch.progress(); });
    if (stoppedAt)
        *stoppedAt = fetch.committedCount();
    switch (ending) {
    case FileFetch::Ending::Committed:
        return FetchResult::Stored;
    case FileFetch::Ending::RefusedName:
        showRefusedNameMessage(downloader.statusLabel, items[fetch.committedCount()].name);
        return FetchResult::Failed;
    case FileFetch::Ending::CommitFailed:
        downloader.showFailure({TransferOutcome::Kind::StoreError});
        return FetchResult::Failed;
    case FileFetch::Ending::TransferFailed:
        downloader.showFailure(fetch.failedTransfer());
        return downloader.wasCancelled() ? FetchResult::Cancelled : FetchResult::Failed;
    case FileFetch::Ending::Working:
    case FileFetch::Ending::Cancelled:
        break;
    }
    return FetchResult::Cancelled;
}
