#include "transfer/transferengine.h"

#include "launcherlog.h"
#include "transfer/transfer.h"
#include "transfer/unreachableorigins.h"

#include <QFile>

#include <algorithm>
#include <thread>

namespace {

// Faults that a moment later may be gone: a server restarting, a connection
// reset by a proxy, a network that dropped for a few seconds.
bool isTransientError(CURLcode result)
{
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return true;
    default:
        return false;
    }
}

bool isTransientStatus(long status)
{
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

// The server could not be reached at all: the same address will not answer the
// next request of this run either.
bool isUnreachable(CURLcode result, curl_off_t connectedAfterUs)
{
    return result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_CONNECT ||
           (result == CURLE_OPERATION_TIMEDOUT && connectedAfterUs == 0);
}

const char *outcomeWords(TransferOutcome::Kind kind)
{
    switch (kind) {
    case TransferOutcome::Kind::Stored:
        return "concluída";
    case TransferOutcome::Kind::HttpStatus:
        return "recusada pelo servidor";
    case TransferOutcome::Kind::TransferError:
        return "erro de conexão";
    case TransferOutcome::Kind::StoreError:
        return "erro ao gravar";
    case TransferOutcome::Kind::ContentMismatch:
        return "conteúdo diferente da lista";
    case TransferOutcome::Kind::BodyTooLarge:
        return "resposta maior que o limite";
    case TransferOutcome::Kind::Cancelled:
        break;
    }
    return "cancelada";
}

} // namespace

// What support needs of one request: how far it came (how it ended, or a try),
// the status, the bytes, the time, the tries and the address.
QByteArray attemptSummary(const TransferEngine::Transfer &transfer, const char *howFar)
{
    const auto elapsedMs =
        transfer.firstStart == Clock::time_point{}
            ? 0
            : std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - transfer.firstStart)
                  .count();
    const TransferOutcome &outcome = transfer.outcome;
    QByteArray summary(howFar);
    if (outcome.alreadyThere)
        summary += ", já estava no disco";
    summary += ", status " + QByteArray::number(qlonglong(transfer.lastStatus));
    if (outcome.transferError)
        summary += ", erro " + QByteArray::number(outcome.transferError) + ' ' + outcome.errorText;
    summary += ", " + QByteArray::number(transfer.received) + " bytes em " +
               QByteArray::number(qlonglong(elapsedMs)) + " ms, " + QByteArray::number(outcome.retries) +
               " novas tentativas";
    if (transfer.address > 0)
        summary += ", espelho " + QByteArray::number(qulonglong(transfer.address));
    return summary;
}

TransferRequest requestWithMirrors(std::vector<QByteArray> urls, QByteArray localPath, qint64 maximumBodySize,
                                   ContentCheck expected)
{
    TransferRequest request{urls.front(), std::move(localPath), maximumBodySize, std::move(expected)};
    request.mirrorUrls.assign(std::make_move_iterator(urls.begin() + 1), std::make_move_iterator(urls.end()));
    return request;
}

struct TransferEngine::AttemptEnd {
    CURLcode result;
    long status;
    curl_off_t retryAfterSeconds;
    curl_off_t elapsedUs;
    curl_off_t connectedAfterUs;
};

TransferEngine::TransferEngine(TransferPolicy policy) : policy(std::move(policy))
{
    this->policy.connections = std::max(1, this->policy.connections);
    initialiseCurlOnce();
    multi = curl_multi_init();
}

TransferEngine::~TransferEngine()
{
    endUnfinished();
    // A complete file that was never put in place is kept only where its record
    // lets the next run take it after checking its hash.
    for (const auto &transfer : transfers) {
        if (transfer->outcome.kind == TransferOutcome::Kind::Stored && transfer->isFile() &&
            !transfer->committed && !transfer->outcome.alreadyThere && !transfer->resumable)
            QFile::remove(QFile::decodeName(transfer->request.localPath + partialFileSuffix));
    }
    curl_multi_cleanup(static_cast<CURLM *>(multi));
}

std::size_t TransferEngine::add(TransferRequest request)
{
    auto transfer = std::make_unique<Transfer>();
    transfer->engine = this;
    transfer->request = std::move(request);
    transfers.push_back(std::move(transfer));
    return transfers.size() - 1;
}

bool TransferEngine::isFinished(std::size_t index) const
{
    return transfers.at(index)->state == TransferState::Finished;
}

const TransferOutcome &TransferEngine::outcome(std::size_t index) const
{
    return transfers.at(index)->outcome;
}

const QByteArray &TransferEngine::body(std::size_t index) const
{
    return transfers.at(index)->body;
}

QByteArray TransferEngine::takeBody(std::size_t index)
{
    return std::move(transfers.at(index)->body);
}

bool TransferEngine::commit(std::size_t index)
{
    Transfer &transfer = *transfers.at(index);
    transfer.committed = true;
    if (transfer.outcome.kind != TransferOutcome::Kind::Stored || !transfer.isFile())
        return false;
    if (transfer.outcome.alreadyThere)
        return true;
    const bool committed = PartialFile::commitFinished(transfer.request.localPath);
    if (!committed)
        QFile::remove(QFile::decodeName(transfer.request.localPath + partialFileSuffix));
    if (transfer.resumable)
        QFile::remove(QFile::decodeName(resumeRecordPath(transfer.request.localPath)));
    return committed;
}

void TransferEngine::moveTo(Transfer &transfer, TransferState next, const QByteArray &logLine)
{
    const auto occupies = [](TransferState state) {
        return state == TransferState::Preparing || state == TransferState::Running ||
               state == TransferState::RateLimited || state == TransferState::Paused;
    };
    running += int(occupies(next)) - int(occupies(transfer.state));
    if (next != TransferState::Preparing)
        transfer.hashing.reset();
    transfer.state = next;
    if (!logLine.isEmpty())
        writeLogLine(logLine);
}

void TransferEngine::requeue(Transfer &transfer, long pauseMs)
{
    transfer.startAt = Clock::now() + std::chrono::milliseconds(pauseMs);
    moveTo(transfer, TransferState::Waiting);
}

bool TransferEngine::tryNextAddress(Transfer &transfer)
{
    if (!transfer.hasNextAddress())
        return false;
    const QByteArray failed = "Transferência " + transfer.url() + " falhou (" +
                              attemptSummary(transfer, "tentativa") + "), tentando o espelho seguinte";
    transfer.outcome.mirror = ++transfer.address;
    transfer.startAt = Clock::now();
    moveTo(transfer, TransferState::Waiting, failed);
    return true;
}

void TransferEngine::end(Transfer &transfer, TransferOutcome::Kind kind)
{
    transfer.outcome.kind = kind;
    moveTo(transfer, TransferState::Finished,
           "Transferência " + transfer.url() + ": " + attemptSummary(transfer, outcomeWords(kind)));
}

void TransferEngine::refuseMismatchedBody(Transfer &transfer)
{
    // A caching proxy may hold an older version under the same address.
    if (!transfer.request.fromOrigin) {
        transfer.request.fromOrigin = true;
        requeue(transfer, 0);
    } else if (!tryNextAddress(transfer)) {
        end(transfer, TransferOutcome::Kind::ContentMismatch);
    }
}

void TransferEngine::endUnfinished()
{
    for (const auto &transfer : transfers) {
        if (transfer->state == TransferState::Finished)
            continue;
        transfer->releaseHandle(static_cast<CURLM *>(multi));
        transfer->leavePartialFile();
        end(*transfer, TransferOutcome::Kind::Cancelled);
    }
}

void TransferEngine::cancel()
{
    cancelled = true;
    endUnfinished();
}

void TransferEngine::startDueTransfers()
{
    if (paused)
        return;
    const Clock::time_point now = Clock::now();
    const int allowed = policy.connections * (multiplexing ? TransferPolicy::streamsPerConnection : 1);
    // One slice of hashing per run(), however many files wait for theirs.
    bool hashed = false;
    for (const auto &owned : transfers) {
        Transfer &transfer = *owned;
        if (transfer.state == TransferState::Waiting && running < allowed && transfer.startAt <= now) {
            if (transfer.isFile() && !transfer.file)
                transfer.prepare();
            moveTo(transfer, TransferState::Preparing);
        }
        if (transfer.state != TransferState::Preparing || (transfer.hashing && hashed))
            continue;
        hashed = hashed || transfer.hashing;
        if (transfer.continueHashing())
            continue;
        if (transfer.outcome.alreadyThere) {
            end(transfer, TransferOutcome::Kind::Stored);
        } else if (transfer.keptWhole) {
            end(transfer,
                transfer.file->finish() ? TransferOutcome::Kind::Stored : TransferOutcome::Kind::StoreError);
        } else if (transfer.start(static_cast<CURLM *>(multi))) {
            moveTo(transfer, TransferState::Running);
        } else {
            transfer.outcome.transferError = CURLE_FAILED_INIT;
            transfer.leavePartialFile();
            end(transfer, TransferOutcome::Kind::TransferError);
        }
    }
}

void TransferEngine::finishAttempt(Transfer &transfer, int code)
{
    AttemptEnd attempt{CURLcode(code), 0, 0, 0, 0};
    curl_easy_getinfo(transfer.easy, CURLINFO_TOTAL_TIME_T, &attempt.elapsedUs);
    curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &attempt.status);
    curl_easy_getinfo(transfer.easy, CURLINFO_RETRY_AFTER, &attempt.retryAfterSeconds);
    curl_easy_getinfo(transfer.easy, CURLINFO_CONNECT_TIME_T, &attempt.connectedAfterUs);
    long httpVersion = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_HTTP_VERSION, &httpVersion);
    multiplexing = multiplexing || (attempt.result == CURLE_OK && httpVersion >= CURL_HTTP_VERSION_2_0);
    transfer.releaseHandle(static_cast<CURLM *>(multi));
    transfer.lastStatus = attempt.status;
    if (transfer.errorText[0])
        consoleMessage(transfer.errorText);

    if (transfer.stop != Transfer::Stop::None) {
        finishStopped(transfer, attempt);
    } else if (attempt.result != CURLE_OK) {
        finishBroken(transfer, attempt);
    } else if (attempt.status == 416 && transfer.resumeFrom > 0) {
        // The kept bytes reach past the file: it changed. Again from byte 0,
        // at once and without counting a try.
        transfer.discardPartialFile();
        requeue(transfer, 0);
    } else if (attempt.status != 200 && !(attempt.status == 206 && transfer.bodyToFile)) {
        finishRefused(transfer, attempt);
    } else {
        finishDelivered(transfer);
    }
}

void TransferEngine::retryOrEnd(Transfer &transfer, bool transient, TransferOutcome::Kind kind,
                                std::optional<long> pauseMs)
{
    transfer.leavePartialFile();
    if (tryNextAddress(transfer))
        return;
    if (transient && transfer.outcome.retries < policy.maximumRetries) {
        requeue(transfer, pauseMs.value_or(long(policy.retryPauseMs) << transfer.outcome.retries));
        ++transfer.outcome.retries;
        return;
    }
    end(transfer, kind);
}

void TransferEngine::finishStopped(Transfer &transfer, const AttemptEnd &attempt)
{
    switch (transfer.stop) {
    case Transfer::Stop::None:
    case Transfer::Stop::BodyTooLarge:
        end(transfer, TransferOutcome::Kind::BodyTooLarge);
        return;
    case Transfer::Stop::BodyTooLong:
        transfer.reportMismatch();
        transfer.discardPartialFile();
        refuseMismatchedBody(transfer);
        return;
    case Transfer::Stop::StoreFailed:
        transfer.discardPartialFile();
        end(transfer, TransferOutcome::Kind::StoreError);
        return;
    case Transfer::Stop::RangeMismatch:
        // The server sent another range than the one asked for: from byte 0, as a try.
        transfer.discardPartialFile();
        transfer.outcome.transferError = attempt.result;
        retryOrEnd(transfer, true,
                   attempt.result != CURLE_OK ? TransferOutcome::Kind::TransferError
                                              : TransferOutcome::Kind::HttpStatus);
        return;
    case Transfer::Stop::ValidatorChanged:
        // The file changed since its first bytes came: from byte 0, without counting a try.
        transfer.discardPartialFile();
        requeue(transfer, 0);
        return;
    }
}

void TransferEngine::finishBroken(Transfer &transfer, const AttemptEnd &attempt)
{
    // A body kept in memory that took its whole time limit would take it again:
    // only a stall or a broken connection is worth another try.
    const bool tookTimeLimit = !transfer.isFile() && attempt.result == CURLE_OPERATION_TIMEDOUT &&
                               attempt.elapsedUs >= policy.memoryBodyTimeLimitSeconds * 1000000 - 100000;
    if (isUnreachable(attempt.result, attempt.connectedAfterUs))
        rememberUnreachable(transfer.url());
    transfer.outcome.transferError = attempt.result;
    transfer.outcome.errorText = transfer.errorText;
    retryOrEnd(transfer, isTransientError(attempt.result) && !tookTimeLimit,
               TransferOutcome::Kind::TransferError);
}

void TransferEngine::finishRefused(Transfer &transfer, const AttemptEnd &attempt)
{
    // A server that asks for a longer pause than we would wait is down for now.
    const bool transient =
        isTransientStatus(attempt.status) && attempt.retryAfterSeconds <= policy.retryAfterLimitSeconds;
    transfer.outcome.httpStatus = attempt.status;
    retryOrEnd(transfer, transient, TransferOutcome::Kind::HttpStatus,
               attempt.retryAfterSeconds > 0 ? std::optional(long(attempt.retryAfterSeconds) * 1000)
                                             : std::nullopt);
}

void TransferEngine::finishDelivered(Transfer &transfer)
{
    if (!transfer.isFile()) {
        end(transfer, TransferOutcome::Kind::Stored);
        return;
    }
    // A status-200 answer with an empty body never called for a partial file.
    if (!transfer.file && !(transfer.file = PartialFile::create(transfer.request.localPath))) {
        end(transfer, TransferOutcome::Kind::StoreError);
        return;
    }
    if (!transfer.bodyMatchesExpected()) {
        transfer.reportMismatch();
        const bool continuedKeptBytes = transfer.continuedKeptBytes;
        transfer.discardPartialFile();
        // Kept bytes that a power cut damaged are not the server's fault: once
        // more, from byte 0.
        if (continuedKeptBytes && transfer.outcome.retries < policy.maximumRetries) {
            ++transfer.outcome.retries;
            requeue(transfer, 0);
            return;
        }
        refuseMismatchedBody(transfer);
        return;
    }
    // The finished file waits for commit(); its record stays with it, so that a
    // failure before its turn does not cost its bytes.
    const bool finished = transfer.file->finish();
    transfer.file.reset();
    end(transfer, finished ? TransferOutcome::Kind::Stored : TransferOutcome::Kind::StoreError);
}

bool TransferEngine::run(int waitMs)
{
    auto *handle = static_cast<CURLM *>(multi);
    followPause();
    releaseRateLimited();
    startDueTransfers();
    int stillRunning = 0;
    curl_multi_perform(handle, &stillRunning);
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(handle, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        Transfer *transfer = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
        finishAttempt(*transfer, message->data.result);
    }
    startDueTransfers();

    bool unfinished = false;
    bool hashing = false;
    auto nextStart = Clock::time_point::max();
    for (const auto &transfer : transfers) {
        unfinished = unfinished || transfer->state != TransferState::Finished;
        hashing = hashing || transfer->state == TransferState::Preparing;
        if (transfer->state == TransferState::Waiting)
            nextStart = std::min(nextStart, transfer->startAt);
    }
    if (!unfinished || (hashing && !paused))
        return unfinished;
    if (running > 0) {
        const qint64 limitedMs = paused ? 0 : limiter().waitMs(steadyMs());
        curl_multi_poll(handle, nullptr, 0, limitedMs > 0 ? int(std::min<qint64>(limitedMs, waitMs)) : waitMs,
                        nullptr);
    } else {
        // Only retries waiting for their time, or a pause.
        const auto wait = std::min<Clock::duration>(
            paused ? Clock::duration::max() : nextStart - Clock::now(), std::chrono::milliseconds(waitMs));
        if (wait > Clock::duration::zero())
            std::this_thread::sleep_for(wait);
    }
    return true;
}

qint64 TransferEngine::bytesStored() const
{
    qint64 stored = 0;
    for (const auto &transfer : transfers) {
        if (transfer->outcome.kind == TransferOutcome::Kind::Stored &&
            transfer->state == TransferState::Finished)
            stored += std::max<qint64>(transfer->expectedSize(), 0);
        else if (transfer->file)
            stored += transfer->file->size();
        else if (!transfer->isFile())
            stored += transfer->body.size();
    }
    return stored;
}

qint64 TransferEngine::bytesExpected() const
{
    qint64 expected = 0;
    for (const auto &transfer : transfers)
        expected += std::max<qint64>(transfer->expectedSize(), 0);
    return expected;
}
