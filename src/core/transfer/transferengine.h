#pragma once

#include "transfer/contentcheck.h"
#include "transfer/transferpolicy.h"

#include <QByteArray>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

// What one request came to, after every try it was given.
struct TransferOutcome {
    enum class Kind {
        Stored,          // in memory, or complete beside its target and waiting for commit()
        HttpStatus,      // the server answered with another status than 200
        TransferError,   // the connection failed: libcurl's code in transferError
        StoreError,      // the body could not be written to disk
        ContentMismatch, // the body differs from the size or SHA-256 it must have
        BodyTooLarge,    // a body kept in memory grew past its limit
        Cancelled,
    };
    Kind kind = Kind::Cancelled;
    long httpStatus = 0;
    int transferError = 0;
    QByteArray errorText{};    // libcurl's own words about a transfer error
    int retries = 0;           // tries after the first
    bool alreadyThere = false; // the target already held the expected bytes: nothing was fetched
    std::size_t mirror = 0;    // the address of the last try: 0 the request's url, k its k-th mirror
};

// One GET: the body kept in memory, or streamed to a partial file beside
// localPath.
struct TransferRequest {
    QByteArray url;
    QByteArray localPath;       // empty keeps the body in memory
    qint64 maximumBodySize = 0; // for a body kept in memory; 0 for no limit
    ContentCheck expected;      // size and SHA-256 a body for localPath must have
    // The same body at other addresses. One that fails on its address (a dead
    // host, a 404, bytes that differ from expected) is tried at once on the next,
    // and only the last is given the pauses and tries for transient faults.
    std::vector<QByteArray> mirrorUrls{};
    // No cache between us and the server may answer without asking the server
    // (the update list and its signature, which keep their address for ever).
    bool fromOrigin = false;
    // A body of a megabyte or more keeps a record beside its partial file, written
    // through to the disk, so that a later try or a later start continues it;
    // false where fetching it again costs less than that write (a pack of a few
    // megabytes, of which each file is kept as it is put in place).
    bool continuedLater = true;
};

// A request for the first of urls, with the others as its mirrors.
TransferRequest requestWithMirrors(std::vector<QByteArray> urls, QByteArray localPath = QByteArray(),
                                   qint64 maximumBodySize = 0, ContentCheck expected = ContentCheck());

// Runs requests side by side on libcurl's multi interface, a few at a time over
// shared connections, on the caller's thread: run() does a slice of the work and
// returns, so that a window can keep its event loop turning in between. Nothing
// here shows anything; each request ends in one outcome.
//
// A file request is resumed where an earlier one stopped (a closed window, a
// crash, a cut connection) when its partial file and the validator of the answer
// that began it are still beside the target; the server's answer to Range and
// If-Range decides whether the kept bytes still count. Transient faults are
// tried again a few times after growing pauses.
class TransferEngine
{
public:
    explicit TransferEngine(TransferPolicy policy = {});
    ~TransferEngine();
    TransferEngine(const TransferEngine &) = delete;
    TransferEngine &operator=(const TransferEngine &) = delete;

    // Requests start in the order they were added. Returns the request's index.
    std::size_t add(TransferRequest request);

    // Works for at most about waitMs; false once every request has finished.
    bool run(int waitMs);

    bool isFinished(std::size_t index) const;
    const TransferOutcome &outcome(std::size_t index) const;
    const QByteArray &body(std::size_t index) const;
    // The body, leaving none behind, for a caller that keeps many.
    QByteArray takeBody(std::size_t index);

    // Puts a stored file in place of its target.
    bool commit(std::size_t index);

    // Ends every unfinished request as Cancelled, for a run that stops; partial
    // files that can be resumed stay.
    void cancel();
    bool wasCancelled() const { return cancelled; }

    qint64 bytesReceived() const { return receivedBytes; }
    // Progress towards the files' sizes (from the request, else from the answers),
    // counting bytes kept from earlier tries and files already there.
    qint64 bytesStored() const;
    qint64 bytesExpected() const;

    // Beside the partial file of a download that a later run can continue.
    static QByteArray resumeRecordPath(const QByteArray &localPath);

    // RateLimited: running, its answer held back until the run may receive again.
    // Paused: running, its answer held back until the player resumes the run.
    enum class TransferState { Waiting, Preparing, Running, RateLimited, Paused, Finished };
    struct Transfer;

private:
    struct AttemptEnd;

    // The one way a request changes its state: it keeps the count of running
    // requests and writes the log line of a request that ends or moves on.
    void moveTo(Transfer &transfer, TransferState next, const QByteArray &logLine = QByteArray());
    void startDueTransfers();
    void finishAttempt(Transfer &transfer, int result);
    // The body was stopped by the engine while it was read.
    void finishStopped(Transfer &transfer, const AttemptEnd &attempt);
    // The connection failed.
    void finishBroken(Transfer &transfer, const AttemptEnd &attempt);
    // The server answered with another status than the one that delivers.
    void finishRefused(Transfer &transfer, const AttemptEnd &attempt);
    // A complete answer: its bytes are checked against the list.
    void finishDelivered(Transfer &transfer);
    // A failed try goes to the next address, else is tried again while tries are
    // left (after pauseMs, else a pause that doubles with each try), else ends as kind.
    void retryOrEnd(Transfer &transfer, bool transient, TransferOutcome::Kind kind,
                    std::optional<long> pauseMs = std::nullopt);
    // Sends a failed request to its next address; false when it has none left.
    bool tryNextAddress(Transfer &transfer);
    // Another try, after pauseMs.
    void requeue(Transfer &transfer, long pauseMs);
    void end(Transfer &transfer, TransferOutcome::Kind kind);
    // Bytes that differ from the list: asked for once more past every cache, then
    // at the next address, then a failure.
    void refuseMismatchedBody(Transfer &transfer);
    void endUnfinished();
    // Transfers held back by the limit take their answers again once it allows.
    void releaseRateLimited();
    // Follows the player's pause: running files keep their connections and
    // receive nothing, nothing new starts, and a body kept in memory, whose time
    // limit a pause would use up, is asked for again afterwards.
    void followPause();
    RateLimiter &limiter() { return policy.control->limiter(); }

    TransferPolicy policy;
    bool paused = false;
    std::vector<std::unique_ptr<Transfer>> transfers;
    void *multi;
    // The server multiplexes requests over HTTP/2: many more may run at once over
    // few connections, as a browser's do, which hides the round trips of small files.
    bool multiplexing = false;
    int running = 0;
    qint64 receivedBytes = 0;
    bool cancelled = false;
};
