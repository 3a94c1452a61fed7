#include "fetchfile.h"

#include "filedownloader.h"
#include "messages.h"
#include "names.h"

FetchResult fetchFile(FileDownloader &downloader, const QByteArray &downloadPath, const char *folder,
                      const QByteArray &name, const QByteArray &localPath, const char *displayName,
                      const ContentCheck &expected)
{
    if (!isSafeRelativeName(name)) {
        consoleMessage(
            QByteArray("Nome recusado na lista de atualizações: " + name.toPercentEncoding("/")).constData());
        return FetchResult::Failed;
    }
    downloader.localPath = localPath;
    downloader.expected = expected;
    if (downloader.downloadFile(downloadUrl(downloadPath, folder, name).constData(), displayName))
        return FetchResult::Stored;
    return downloader.wasCancelled() ? FetchResult::Cancelled : FetchResult::Failed;
}
