#include "filedownloader.h"

#include "clock.h"
#include "messages.h"
#include "partialfile.h"

#include <QCoreApplication>
#include <QLabel>

#include <algorithm>
#include <vector>

long FileDownloader::stallTimeoutSeconds = 60;
long FileDownloader::memoryBodyTimeLimitSeconds = 60;

namespace {

// Error pages of a failed file download are kept for inspection, up to this size.
constexpr int errorPageLimit = 1024 * 1024;

// libcurl is initialised once for the process, before the first transfer.
void initialiseCurlOnce()
{
    struct CurlGlobal {
        CurlGlobal() { curl_global_init(CURL_GLOBAL_ALL); }
        ~CurlGlobal() { curl_global_cleanup(); }
    };
    static CurlGlobal global;
}

// The files of one install come from one server: transfers share their
// connections, as a browser would, instead of opening one per file.
CURLSH *sharedConnections()
{
    struct Share {
        Share() : handle(curl_share_init())
        {
            curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
            curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        }
        ~Share() { curl_share_cleanup(handle); }
        CURLSH *handle;
    };
    static Share share;
    return share.handle;
}

struct EasyHandleCleanup {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};

std::vector<FileDownloader *> &runningDownloaders()
{
    static std::vector<FileDownloader *> running;
    return running;
}

// Registers a downloader as running for the length of one call.
class RunningTransfer
{
public:
    explicit RunningTransfer(FileDownloader *downloader) : downloader(downloader)
    {
        runningDownloaders().push_back(downloader);
    }
    ~RunningTransfer()
    {
        auto &running = runningDownloaders();
        running.erase(std::find(running.begin(), running.end(), downloader));
    }
    RunningTransfer(const RunningTransfer &) = delete;
    RunningTransfer &operator=(const RunningTransfer &) = delete;

private:
    FileDownloader *downloader;
};

} // namespace

FileDownloader::FileDownloader() = default;
FileDownloader::~FileDownloader() = default;

void FileDownloader::cancel()
{
    cancelled = true;
}

void FileDownloader::cancelRunningTransfers()
{
    for (FileDownloader *downloader : runningDownloaders())
        downloader->cancel();
}

bool FileDownloader::configure(CURL *transfer, const char *url, char *errorText)
{
    // No real connection stays below a kilobyte per second for a minute.
    constexpr long stallBytesPerSecond = 1024;
    const long timeLimitSeconds = localPath.isEmpty() ? memoryBodyTimeLimitSeconds : 0;
    // The progress callback is installed for every transfer, so that a cancel is
    // noticed and the window stays alive even while no data arrives.
    return curl_easy_setopt(transfer, CURLOPT_USERAGENT, "Updater") == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_URL, url) == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_WRITEFUNCTION, &FileDownloader::receiveData) == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_WRITEDATA, this) == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_CONNECTTIMEOUT, 5L) == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_XFERINFOFUNCTION, &FileDownloader::reportProgress) ==
               CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_XFERINFODATA, this) == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_LOW_SPEED_LIMIT, stallBytesPerSecond) == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_LOW_SPEED_TIME, stallTimeoutSeconds) == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_TIMEOUT, timeLimitSeconds) == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_SHARE, sharedConnections()) == CURLE_OK &&
           curl_easy_setopt(transfer, CURLOPT_ERRORBUFFER, errorText) == CURLE_OK;
}

bool FileDownloader::downloadFile(const char *url, const char *name)
{
    buffer.clear();
    lastUpdateMs = 0;
    lastUpdateBytes = 0;
    displayName = name;
    cancelled = false;
    storeFailed = false;
    bodyGoesToFile = false;
    bodyTooLarge = false;
    bodyTooLong = false;
    bytesStored = 0;
    bodyHash.reset();
    outputFile.reset();
    transferStartMs = currentTimeMs();

    initialiseCurlOnce();
    const std::unique_ptr<CURL, EasyHandleCleanup> transfer(curl_easy_init());
    if (!transfer) {
        showTransferError(CURLE_FAILED_INIT);
        return false;
    }
    char errorText[CURL_ERROR_SIZE] = {};
    const RunningTransfer running(this);
    handle = transfer.get();
    const CURLcode result =
        configure(transfer.get(), url, errorText) ? curl_easy_perform(transfer.get()) : CURLE_FAILED_INIT;
    handle = nullptr;

    // Whatever went wrong, the partial file goes and the target stays as it was.
    long status = 0;
    curl_easy_getinfo(transfer.get(), CURLINFO_RESPONSE_CODE, &status);
    bool stored = false;
    if (cancelled) {
        consoleMessage("Download cancelado");
    } else if (bodyTooLarge) {
        consoleMessage("Download interrompido: resposta maior que o limite");
    } else if (bodyTooLong) {
        showContentMismatch();
    } else if (storeFailed) {
        showStoreError();
    } else if (result != CURLE_OK) {
        if (errorText[0])
            consoleMessage(errorText);
        showTransferError(result);
    } else if (status != 200) {
        // Also for a body kept in memory: an error page of a CDN or a proxy may
        // be well-formed XML, and is no update list.
        showErrorMessage(statusLabel,
                         QString::fromLatin1("O servidor retornou um erro ao solicitar um arquivo. errno: " +
                                             QByteArray::number(qlonglong(status))));
    } else if (localPath.isEmpty()) {
        stored = true;
    } else if (!bodyMatchesExpected()) {
        showContentMismatch();
    } else if (!finishStoring()) {
        showStoreError();
    } else {
        stored = true;
    }
    outputFile.reset();
    return stored;
}

bool FileDownloader::storeChunk(const char *data, size_t size)
{
    if (localPath.isEmpty()) {
        if (maximumBodySize > 0 && buffer.size() + qint64(size) > maximumBodySize) {
            bodyTooLarge = true;
            return false;
        }
        buffer.append(data, int(size));
        return true;
    }
    if (!outputFile && !bodyGoesToFile) {
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        bodyGoesToFile = status == 200;
        if (bodyGoesToFile && !(outputFile = PartialFile::create(localPath)))
            return false;
    }
    if (bodyGoesToFile) {
        // A body longer than the list says is refused at once, not written until
        // the disk is full.
        if (!expected.size.isEmpty() && bytesStored + qint64(size) > expected.size.toLongLong()) {
            bodyTooLong = true;
            return false;
        }
        bytesStored += qint64(size);
        if (!expected.sha256.isEmpty())
            bodyHash.addData(data, size);
        return outputFile->write(data, size);
    }
    if (buffer.size() < errorPageLimit)
        buffer.append(data, int(std::min<size_t>(size, size_t(errorPageLimit - buffer.size()))));
    return true;
}

bool FileDownloader::finishStoring()
{
    if (!outputFile)
        outputFile = PartialFile::create(localPath); // a 200 answer with an empty body
    return outputFile && outputFile->commit();
}

bool FileDownloader::bodyMatchesExpected()
{
    if (!expected.size.isEmpty() && expected.size != QByteArray::number(bytesStored))
        return false;
    return expected.sha256.isEmpty() || expected.sha256.toLower() == bodyHash.hexResult();
}

size_t FileDownloader::receiveData(char *data, size_t size, size_t count, void *downloader)
{
    auto *self = static_cast<FileDownloader *>(downloader);
    const size_t bytes = size * count;
    if (self->cancelled)
        return 0;
    if (!self->storeChunk(data, bytes)) {
        self->storeFailed = !self->bodyTooLarge && !self->bodyTooLong;
        return 0; // libcurl stops the transfer
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return self->cancelled ? 0 : bytes;
}

void FileDownloader::showTransferError(CURLcode result)
{
    showErrorMessage(statusLabel, QString::fromLatin1(
                                      "Ocorreu um erro ao tentar acessar um arquivo na internet, por favor, "
                                      "verifique a sua internet. errno " +
                                      QByteArray::number(int(result))));
}

void FileDownloader::showContentMismatch()
{
    consoleMessage(QByteArray("Conte\xc3\xba"
                              "do diferente do anunciado: " +
                              localPath)
                       .constData());
    showErrorMessage(statusLabel, QString::fromLatin1("O arquivo baixado n\xe3o confere com a lista de "
                                                      "atualiza\xe7\xf5"
                                                      "es"));
}

void FileDownloader::showStoreError()
{
    showErrorMessage(statusLabel,
                     QString::fromLatin1("N\xe3o foi poss\xedvel salvar o download, aparentemente o "
                                         "arquivo est\xe1 em uso"));
}
