#include "fetchfile.h"

#include "filedownloader.h"
#include "messages.h"
#include "names.h"

#include <QLabel>

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
    downloader.localPath = localPath;
    downloader.expected = expected;
    if (downloader.downloadFile(downloadUrl(downloadPath, folder, name).constData(), displayName))
        return FetchResult::Stored;
    return downloader.wasCancelled() ? FetchResult::Cancelled : FetchResult::Failed;
}
