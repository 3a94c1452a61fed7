#pragma once

#include "launcherstate.h"
#include "sha256.h"

#include <QByteArray>
#include <QtGlobal>

#include <curl/curl.h>

#include <memory>

class PartialFile;
class QLabel;
class QProgressBar;

// One HTTP GET on the GUI thread. The body is kept in memory, or, with a
// localPath, streamed to a partial file that replaces the target only after a
// complete status-200 answer. Every failure has been shown in a box before the
// call returns false; a cancelled call shows none. While the transfer runs the
// event loop keeps turning, and with a progress bar attached the bar and the
// status label show the progress and the speed.
class FileDownloader
{
public:
    FileDownloader();
    ~FileDownloader();
    FileDownloader(const FileDownloader &) = delete;
    FileDownloader &operator=(const FileDownloader &) = delete;

    QByteArray buffer;                       // the body, when it is not written to localPath
    const char *displayName = nullptr;       // name in the progress text; borrowed for one call
    QByteArray localPath;                    // target file; empty keeps the body in memory
    std::unique_ptr<PartialFile> outputFile; // the partial target, open only inside a call
    QProgressBar *progressBar = nullptr;     // switches the progress display on
    qint64 lastUpdateMs = 0;                 // when the speed text was last written
    qint64 lastUpdateBytes = 0;              // bytes received by then
    QLabel *statusLabel = nullptr;           // progress text, and parent of the error boxes
    qint64 maximumBodySize = 0;              // for a body kept in memory; 0 for no limit
    ContentCheck expected;                   // size and SHA-256 a body for localPath must have

    bool downloadFile(const char *url, const char *name);

    // Stops the running transfer of this object: the call returns false at once,
    // without a box, and leaves no file behind.
    void cancel();
    bool wasCancelled() const { return cancelled; }

    // The body to be kept in memory grew past maximumBodySize: the transfer was
    // stopped and the call returned false without a box.
    bool exceededMaximumBodySize() const { return bodyTooLarge; }

    // Stops every transfer in progress, for a window that is closing.
    static void cancelRunningTransfers();

    // A transfer that receives less than a kilobyte per second for this long
    // fails with libcurl's time-out, rather than hanging.
    static long stallTimeoutSeconds;
    // A body kept in memory (the update list, its signature) must arrive whole
    // within this time, so that a trickle cannot keep the buttons disabled.
    static long memoryBodyTimeLimitSeconds;

    // libcurl's write and transfer-information callbacks.
    static size_t receiveData(char *data, size_t size, size_t count, void *downloader);
    static int reportProgress(void *downloader, curl_off_t downloadTotal, curl_off_t downloaded,
                              curl_off_t uploadTotal, curl_off_t uploaded);

private:
    bool storeChunk(const char *data, size_t size);
    bool finishStoring();
    bool bodyMatchesExpected();
    bool configure(CURL *handle, const char *url, char *errorText);
    void showTransferError(CURLcode result);
    void showStoreError();
    void showContentMismatch();

    CURL *handle = nullptr;     // the transfer in progress
    qint64 transferStartMs = 0; // the first speed figure counts from here
    bool cancelled = false;
    bool storeFailed = false;    // the body could not be written to localPath
    bool bodyGoesToFile = false; // decided by the status of the answer
    bool bodyTooLarge = false;   // a body for memory grew past maximumBodySize
    bool bodyTooLong = false;    // a body for localPath grew past its expected size
    qint64 bytesStored = 0;      // the body written to the partial file so far ...
    Sha256 bodyHash;             // ... and its hash, taken as it streams in
};
