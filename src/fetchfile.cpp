#include "fetchfile.h"

#include "filedownloader.h"
#include "messages.h"
#include "names.h"
#include "transferengine.h"

#include <QFile>
#include <QLabel>
#include <QStorageInfo>

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

FetchResult fetchFiles(FileDownloader &downloader, const QByteArray &downloadPath, const char *folder,
                       const std::vector<FetchItem> &items, const char *displayName,
                       const std::function<void(std::size_t)> &onCommitted, std::size_t *stoppedAt)
{
    // Items up to the first refused name are fetched; that one fails in its turn.
    TransferEngine engine;
    std::size_t fetched = 0;
    for (; fetched < items.size(); ++fetched) {
        const FetchItem &item = items[fetched];
        // A file stored in the game folder itself must not be one of the launcher's own.
        const bool refused =
            item.localPath == item.name ? !isLauncherFileName(item.name) : !isSafeRelativeName(item.name);
        if (refused)
            break;
        engine.add({downloadUrl(downloadPath, folder, item.name), item.localPath, 0, item.expected});
    }

    std::size_t committed = 0;
    bool commitFailed = false;
    const auto commitInOrder = [&] {
        for (; committed < fetched && engine.isFinished(committed); ++committed) {
            if (engine.outcome(committed).kind != TransferOutcome::Kind::Stored)
                return false;
            if (!engine.commit(committed)) {
                commitFailed = true;
                return false;
            }
            onCommitted(committed);
        }
        return true;
    };
    downloader.drive(engine, displayName, commitInOrder);
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
    downloader.showFailure(engine.outcome(committed));
    return downloader.wasCancelled() ? FetchResult::Cancelled : FetchResult::Failed;
}
