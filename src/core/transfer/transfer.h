#pragma once

// The engine's record of one request, shared by the files that implement it:
// the engine's scheduling, the preparation of a file request (its target or
// kept bytes hashed, its partial file reopened) and the answer being read.

#include "messages.h"
#include "transfer/partialfile.h"
#include "transfer/sha256.h"
#include "transfer/transferengine.h"

#include <QFile>

#include <curl/curl.h>

#include <chrono>
#include <memory>

using Clock = std::chrono::steady_clock;

// Milliseconds of the steady clock, for the rate limit.
inline qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

struct TransferEngine::Transfer {
    using State = TransferEngine::TransferState;
    enum class Stop { None, BodyTooLarge, BodyTooLong, StoreFailed, RangeMismatch, ValidatorChanged };

    TransferEngine *engine = nullptr;
    TransferRequest request;
    TransferOutcome outcome;
    State state = State::Waiting;
    Clock::time_point startAt{}; // a retry waits until then
    Clock::time_point firstStart{};
    std::size_t address = 0; // 0: request.url, k: its k-th mirror
    qint64 received = 0;
    long lastStatus = 0;
    QByteArray body;
    std::unique_ptr<PartialFile> file;
    bool resumable = false;         // the partial file has its record and stays after a failure
    Sha256 hash;                    // of the body's bytes in the partial file so far
    std::unique_ptr<QFile> hashing; // being hashed before the transfer starts
    bool checkingTarget = false;    // ... the target itself, else the kept prefix
    bool keptWhole = false;         // the partial file already holds the whole expected body
    bool committed = false;         // put in place by commit()
    qint64 resumeFrom = 0;
    bool continuedKeptBytes = false; // the body on disk began in an earlier try
    qint64 announcedSize = -1;
    qint64 contentRangeStart = -1;
    QByteArray validator;     // of the answer being read, or of the kept bytes before it starts
    QByteArray sentValidator; // sent with If-Range
    bool bodyStarted = false;
    bool bodyToFile = false;
    Stop stop = Stop::None;
    CURL *easy = nullptr;
    curl_slist *headers = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};

    bool isFile() const { return !request.localPath.isEmpty(); }
    const QByteArray &url() const { return address == 0 ? request.url : request.mirrorUrls[address - 1]; }
    bool hasNextAddress() const { return address < request.mirrorUrls.size(); }
    qint64 expectedSize() const
    {
        return request.expected.size.isEmpty() ? announcedSize : request.expected.size.toLongLong();
    }

    // Before each try: nothing of the last answer is left to mistake for this one's.
    void resetAttempt();
    // The handle set up for this try; false when libcurl refused an option.
    bool configureHandle();
    void prepare();
    bool continueHashing();
    void openPartialForResume();
    bool start(CURLM *multi);
    void releaseHandle(CURLM *multi);
    void leavePartialFile();
    void discardPartialFile();
    void beginBody();
    size_t receive(const char *data, size_t size);
    void readHeader(const QByteArray &line);
    bool bodyMatchesExpected();
    void reportMismatch() const
    {
        consoleMessage(QByteArray("Conteúdo diferente do anunciado: " + request.localPath).constData());
    }

    static size_t receiveData(char *data, size_t size, size_t count, void *transfer)
    {
        return static_cast<Transfer *>(transfer)->receive(data, size * count);
    }
    static size_t receiveHeader(char *data, size_t size, size_t count, void *transfer)
    {
        static_cast<Transfer *>(transfer)->readHeader(QByteArray(data, int(size * count)));
        return size * count;
    }
};

// What a resumable download began with: the address, the list's promise and the
// validator of the first answer. A partial file is continued only when all three
// still hold.
QByteArray resumeRecord(const TransferRequest &request, const QByteArray &validator);

// libcurl is initialised once for the process, before the first transfer.
void initialiseCurlOnce();
