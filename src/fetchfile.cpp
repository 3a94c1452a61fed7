#include "fetchfile.h"

#include "filedownloader.h"
#include "messages.h"
#include "names.h"

#include "sha256.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QStorageInfo>

namespace {

// A file already on disk with the list's size and SHA-256 (an install interrupted
// after its download, a config.xml restored from a backup) needs no transfer. It
// is hashed in pieces, so that the window stays alive over a large client.
bool alreadyThere(const QByteArray &localPath, const ContentCheck &expected)
{
    const QFileInfo existing(QFile::decodeName(localPath));
    if (expected.size.isEmpty() || expected.sha256.isEmpty() || existing.isSymLink() ||
        existing.size() != expected.size.toLongLong())
        return false;
    QFile file(existing.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    Sha256 hash;
    QByteArray piece;
    while (!(piece = file.read(1 << 20)).isEmpty()) {
        hash.addData(piece);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return !file.error() && hash.hexResult() == expected.sha256.toLower();
}

} // namespace

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

FetchResult fetchFile(FileDownloader &downloader, const QByteArray &downloadPath, const char *folder,
                      const QByteArray &name, const QByteArray &localPath, const char *displayName,
                      const ContentCheck &expected)
{
    // A file stored in the game folder itself must not be one of the launcher's own.
    const bool refused = localPath == name ? !isLauncherFileName(name) : !isSafeRelativeName(name);
    if (refused) {
        showRefusedNameMessage(downloader.statusLabel, name);
        return FetchResult::Failed;
    }
    if (alreadyThere(localPath, expected)) {
        consoleMessage(QByteArray("J\xc3\xa1 no disco, sem download: " + localPath).constData());
        return FetchResult::Stored;
    }
    downloader.localPath = localPath;
    downloader.expected = expected;
    if (downloader.downloadFile(downloadUrl(downloadPath, folder, name).constData(), displayName))
        return FetchResult::Stored;
    return downloader.wasCancelled() ? FetchResult::Cancelled : FetchResult::Failed;
}
