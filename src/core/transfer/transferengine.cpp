#include "transfer/transferengine.h"

#include "buildconfig.h"
#include "transfer/folderfile.h"
#include "launcherlog.h"
#include "messages.h"
#include "transfer/partialfile.h"
#include "transfer/sha256.h"

#include <QFile>
#include <QFileInfo>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

int TransferEngine::retryPauseMs = 1000;
long TransferEngine::stallTimeoutSeconds = 60;
long TransferEngine::memoryBodyTimeLimitSeconds = 60;

namespace {

using Clock = std::chrono::steady_clock;

// A server that asks for a longer pause is treated as down.
constexpr long retryAfterLimitSeconds = 30;
// A smaller file that breaks simply starts again: a record per file would cost
// more than the bytes it saves.
constexpr qint64 resumableSize = 1 << 20;
// Bytes hashed per run(), so that checking a large file keeps the window alive.
constexpr qint64 hashSliceBytes = 8 << 20;
// No real connection stays below a kilobyte per second for a minute.
constexpr long stallBytesPerSecond = 1024;

// Beside the partial file NAME.~part: what its download began with.
const char resumeRecordSuffix[] = ".resume";

// libcurl is initialised once for the process, before the first transfer.
void initialiseCurlOnce()
{
    struct CurlGlobal {
        CurlGlobal() { curl_global_init(CURL_GLOBAL_ALL); }
        ~CurlGlobal() { curl_global_cleanup(); }
    };
    static CurlGlobal global;
}

// All transfers of the program share their connections and name look-ups, so
// that the list, the pictures and a client's files reuse what one opened.
CURLSH *sharedConnections()
{
    struct Share {
        Share() : handle(curl_share_init())
        {
            curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
            curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
            curl_share_setopt(handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        }
        ~Share() { curl_share_cleanup(handle); }
        CURLSH *handle;
    };
    static Share share;
    return share.handle;
}

std::vector<TransferEngine *> &engines()
{
    static std::vector<TransferEngine *> all;
    return all;
}

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

// "scheme://host:port" of an address.
QByteArray originOf(const QByteArray &url)
{
    const int host = url.indexOf("://");
    const int path = host < 0 ? -1 : url.indexOf('/', host + 3);
    return path < 0 ? url : url.left(path);
}

struct UnreachableOrigins {
    std::mutex mutex;
    std::set<QByteArray> origins;
};

UnreachableOrigins &unreachableOrigins()
{
    static UnreachableOrigins unreachable;
    return unreachable;
}

bool isKnownUnreachable(const QByteArray &url)
{
    UnreachableOrigins &unreachable = unreachableOrigins();
    const std::lock_guard<std::mutex> lock(unreachable.mutex);
    return unreachable.origins.count(originOf(url)) > 0;
}

void rememberUnreachable(const QByteArray &url)
{
    UnreachableOrigins &unreachable = unreachableOrigins();
    const std::lock_guard<std::mutex> lock(unreachable.mutex);
    unreachable.origins.insert(originOf(url));
}

bool appendHeader(curl_slist *&headers, const QByteArray &line)
{
    curl_slist *const grown = curl_slist_append(headers, line.constData());
    if (grown)
        headers = grown;
    return grown != nullptr;
}

QByteArray headerValue(const QByteArray &line, const char *name)
{
    const int colon = line.indexOf(':');
    if (colon < 0 || line.left(colon).trimmed().toLower() != name)
        return QByteArray();
    return line.mid(colon + 1).trimmed();
}

// What a resumable download began with: the address, the list's promise and the
// validator of the first answer. A partial file is continued only when all three
// still hold.
QByteArray resumeRecord(const TransferRequest &request, const QByteArray &validator)
{
    return request.url + '\n' + request.expected.size + '\n' + request.expected.sha256.toLower() + '\n' +
           validator + '\n';
}

} // namespace

QByteArray TransferEngine::resumeRecordPath(const QByteArray &localPath)
{
    return localPath + partialFileSuffix + resumeRecordSuffix;
}

struct TransferEngine::Transfer {
    enum class State { Waiting, Preparing, Running, Finished };
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
        consoleMessage(QByteArray("Conte\xc3\xba"
                                  "do diferente do anunciado: " +
                                  request.localPath)
                           .constData());
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

namespace {

const char *outcomeWords(TransferOutcome::Kind kind)
{
    switch (kind) {
    case TransferOutcome::Kind::Stored:
        return "conclu\xc3\xad"
               "da";
    case TransferOutcome::Kind::HttpStatus:
        return "recusada pelo servidor";
    case TransferOutcome::Kind::TransferError:
        return "erro de conex\xc3\xa3o";
    case TransferOutcome::Kind::StoreError:
        return "erro ao gravar";
    case TransferOutcome::Kind::ContentMismatch:
        return "conte\xc3\xba"
               "do diferente da lista";
    case TransferOutcome::Kind::BodyTooLarge:
        return "resposta maior que o limite";
    case TransferOutcome::Kind::Cancelled:
        break;
    }
    return "cancelada";
}

} // namespace

// What support needs of one request: how it ended, the status, the bytes, the
// time, the tries and the address.
QByteArray attemptSummary(const TransferEngine::Transfer &transfer)
{
    const auto elapsedMs =
        transfer.firstStart == Clock::time_point{}
            ? 0
            : std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - transfer.firstStart)
                  .count();
    const TransferOutcome &outcome = transfer.outcome;
    QByteArray summary = transfer.state == TransferEngine::Transfer::State::Finished
                             ? QByteArray(outcomeWords(outcome.kind))
                             : QByteArray("tentativa");
    if (outcome.alreadyThere)
        summary += ", j\xc3\xa1 estava no disco";
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

// Before a file request starts: a target that already holds the expected bytes
// needs no transfer, and a partial file with its record is continued.
void TransferEngine::Transfer::prepare()
{
    state = State::Preparing;
    if (!request.expected.size.isEmpty() && !request.expected.sha256.isEmpty()) {
        hashing = std::make_unique<QFile>(QFile::decodeName(request.localPath));
        if (openRegularFile(*hashing, QIODevice::ReadOnly) &&
            hashing->size() == request.expected.size.toLongLong()) {
            checkingTarget = true;
            return;
        }
        hashing.reset();
    }
    openPartialForResume();
}

void TransferEngine::Transfer::openPartialForResume()
{
    checkingTarget = false;
    hash.reset();
    resumeFrom = 0;
    const QString recordPath = QFile::decodeName(resumeRecordPath(request.localPath));
    QFile record(recordPath);
    if (!openRegularFile(record, QIODevice::ReadOnly)) {
        QFile::remove(recordPath); // whatever stands in its place, a link or a FIFO, is no record
        return;
    }
    const QByteArray recorded = record.read(64 * 1024);
    record.close();
    const QByteArray recordedValidator = recorded.split('\n').value(3);
    if (recordedValidator.isEmpty() || recorded != resumeRecord(request, recordedValidator) ||
        !(file = PartialFile::reopen(request.localPath))) {
        QFile::remove(recordPath);
        return; // the fresh partial file replaces whatever is left
    }
    // A file fetched whole but never put in place (a file before it failed) is
    // taken as it is once its hash agrees.
    const qint64 kept = file->size();
    const qint64 size = request.expected.size.isEmpty() ? -1 : request.expected.size.toLongLong();
    const bool usable =
        kept > 0 && (size < 0 || kept < size || (kept == size && !request.expected.sha256.isEmpty()));
    if (!usable) {
        discardPartialFile();
        return;
    }
    validator = recordedValidator;
    resumable = true;
    resumeFrom = kept;
    if (!request.expected.sha256.isEmpty()) {
        hashing = std::make_unique<QFile>(QFile::decodeName(file->path()));
        if (!hashing->open(QIODevice::ReadOnly)) {
            hashing.reset();
            discardPartialFile();
        }
    }
}

// A slice of the hashing; false once it is done.
bool TransferEngine::Transfer::continueHashing()
{
    if (!hashing)
        return false;
    const qint64 limit = checkingTarget ? hashing->size() : resumeFrom;
    const QByteArray piece = hashing->read(std::min(hashSliceBytes, limit - hashing->pos()));
    hash.addData(piece);
    if (!piece.isEmpty() && hashing->pos() < limit)
        return true;
    const bool complete = hashing->pos() == limit && hashing->error() == QFile::NoError;
    hashing.reset();
    if (checkingTarget) {
        if (complete && hash.hexResult() == request.expected.sha256.toLower()) {
            outcome.alreadyThere = true;
            consoleMessage(QByteArray("J\xc3\xa1 no disco, sem download: " + request.localPath).constData());
            return false;
        }
        openPartialForResume();
        return hashing != nullptr;
    }
    if (!complete)
        discardPartialFile();
    else if (!request.expected.size.isEmpty() && resumeFrom == request.expected.size.toLongLong())
        keptWhole = hash.hexResult() == request.expected.sha256.toLower();
    if (resumeFrom > 0 && !keptWhole && !request.expected.size.isEmpty() &&
        resumeFrom == request.expected.size.toLongLong())
        discardPartialFile();
    return false;
}

bool TransferEngine::Transfer::start(CURLM *multi)
{
    bodyStarted = false;
    bodyToFile = false;
    continuedKeptBytes = false;
    body.clear(); // a try that broke leaves no bytes in front of the next one's
    stop = Stop::None;
    announcedSize = -1;
    contentRangeStart = -1;
    errorText[0] = '\0';
    if (firstStart == Clock::time_point{})
        firstStart = Clock::now();
    while (hasNextAddress() && isKnownUnreachable(url()))
        outcome.mirror = ++address;
    easy = curl_easy_init();
    if (!easy)
        return false;
    const long timeLimitSeconds = isFile() ? 0 : memoryBodyTimeLimitSeconds;
    bool configured =
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "Updater") == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_URL, url().constData()) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::receiveData) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::receiveHeader) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_PRIVATE, this) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 5L) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, stallBytesPerSecond) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, stallTimeoutSeconds) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_TIMEOUT, timeLimitSeconds) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        // Large reads for files: fewer calls to write them, at a few hundred
        // kilobytes per running transfer.
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, isFile() ? 256L * 1024 : 16L * 1024) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_SHARE, sharedConnections()) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText) == CURLE_OK;
    const QByteArray &authority = buildSettings().certificateAuthorityFile;
    if (configured && !authority.isEmpty())
        configured = curl_easy_setopt(easy, CURLOPT_CAINFO, authority.constData()) == CURLE_OK;
#ifdef Q_OS_WIN
    // The system's certificate store, as for every other program of the player's:
    // Schannel's own way, and said so for any TLS library libcurl may be built with.
    else if (configured)
        configured = curl_easy_setopt(easy, CURLOPT_SSL_OPTIONS, long(CURLSSLOPT_NATIVE_CA)) == CURLE_OK;
#endif
    sentValidator.clear();
    if (configured && resumeFrom > 0) {
        // If-Range: the server sends the rest only if the file is still the one
        // whose beginning is on disk; otherwise the whole file, from byte 0.
        sentValidator = validator;
        configured =
            appendHeader(headers, "If-Range: " + validator) &&
            curl_easy_setopt(easy, CURLOPT_RANGE,
                             QByteArray(QByteArray::number(resumeFrom) + '-').constData()) == CURLE_OK;
    }
    // Caching proxies keep a copy under the address; these make them ask the server.
    if (configured && request.fromOrigin)
        configured =
            appendHeader(headers, "Cache-Control: no-cache") && appendHeader(headers, "Pragma: no-cache");
    if (configured && headers)
        configured = curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers) == CURLE_OK;
    if (!configured || curl_multi_add_handle(multi, easy) != CURLM_OK) {
        releaseHandle(nullptr);
        return false;
    }
    state = State::Running;
    return true;
}

void TransferEngine::Transfer::releaseHandle(CURLM *multi)
{
    if (multi && easy)
        curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    easy = nullptr;
    curl_slist_free_all(headers);
    headers = nullptr;
}

// A partial file with its record stays for the next try or the next start;
// one without is of no use to either.
void TransferEngine::Transfer::leavePartialFile()
{
    if (file && resumable) {
        file->keep();
        file.reset();
    }
    file.reset();
}

void TransferEngine::Transfer::discardPartialFile()
{
    file.reset();
    if (resumable || QFileInfo::exists(QFile::decodeName(resumeRecordPath(request.localPath))))
        QFile::remove(QFile::decodeName(resumeRecordPath(request.localPath)));
    resumable = false;
    resumeFrom = 0;
    hash.reset();
}

void TransferEngine::Transfer::readHeader(const QByteArray &line)
{
    if (line.startsWith("HTTP/")) {
        validator.clear();
        contentRangeStart = -1;
        return;
    }
    QByteArray value = headerValue(line, "etag");
    if (!value.isEmpty() && !value.startsWith("W/")) // a weak validator guards no byte range
        validator = value;
    value = headerValue(line, "last-modified");
    if (!value.isEmpty() && validator.isEmpty())
        validator = value;
    value = headerValue(line, "content-range");
    if (value.startsWith("bytes "))
        contentRangeStart = value.mid(6, value.indexOf('-') - 6).toLongLong();
}

// The first byte of the body: its status says where the body goes.
void TransferEngine::Transfer::beginBody()
{
    bodyStarted = true;
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t length = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (!isFile()) {
        announcedSize = status == 200 ? length : -1;
        return;
    }
    if (status == 206 && resumeFrom > 0) {
        if (contentRangeStart != resumeFrom) {
            stop = Stop::RangeMismatch;
            return;
        }
        // A server that ignores If-Range sends the rest of whatever it holds now.
        if (validator != sentValidator) {
            stop = Stop::ValidatorChanged;
            return;
        }
        bodyToFile = true;
        continuedKeptBytes = true;
        announcedSize = length >= 0 ? resumeFrom + length : -1;
        return;
    }
    if (status != 200)
        return; // an error page: read and dropped
    bodyToFile = true;
    announcedSize = length;
    // A whole answer to a resumed request: the file changed, or the server
    // ignores ranges. It starts again from byte 0.
    if (file ? !file->truncate() : !(file = PartialFile::create(request.localPath))) {
        stop = Stop::StoreFailed;
        return;
    }
    hash.reset();
    resumeFrom = 0;
    continuedKeptBytes = false;
    const bool recorded = resumable;
    resumable = !validator.isEmpty() && std::max(expectedSize(), announcedSize) >= resumableSize &&
                replaceFileContents(QFile::decodeName(resumeRecordPath(request.localPath)),
                                    resumeRecord(request, validator));
    if (recorded && !resumable)
        QFile::remove(QFile::decodeName(resumeRecordPath(request.localPath)));
}

size_t TransferEngine::Transfer::receive(const char *data, size_t size)
{
    if (!bodyStarted)
        beginBody();
    if (stop != Stop::None)
        return 0;
    engine->receivedBytes += qint64(size);
    received += qint64(size);
    if (!isFile()) {
        if (request.maximumBodySize > 0 && body.size() + qint64(size) > request.maximumBodySize) {
            stop = Stop::BodyTooLarge;
            return 0;
        }
        body.append(data, int(size));
        return size;
    }
    if (!bodyToFile)
        return size;
    // A body longer than the list says is refused at once, not written until the
    // disk is full.
    if (!request.expected.size.isEmpty() &&
        file->size() + qint64(size) > request.expected.size.toLongLong()) {
        stop = Stop::BodyTooLong;
        return 0;
    }
    if (!request.expected.sha256.isEmpty())
        hash.addData(data, size);
    if (!file->write(data, size)) {
        stop = Stop::StoreFailed;
        return 0;
    }
    return size;
}

bool TransferEngine::Transfer::bodyMatchesExpected()
{
    if (!request.expected.size.isEmpty() && request.expected.size != QByteArray::number(file->size()))
        return false;
    return request.expected.sha256.isEmpty() || request.expected.sha256.toLower() == hash.hexResult();
}

TransferEngine::TransferEngine(int maximumRunning) : maximumRunning(std::max(1, maximumRunning))
{
    initialiseCurlOnce();
    multi = curl_multi_init();
    engines().push_back(this);
}

TransferEngine::~TransferEngine()
{
    cancel();
    // A complete file that was never put in place is kept only where its record
    // lets the next run take it after checking its hash.
    for (const auto &transfer : transfers) {
        if (transfer->outcome.kind == TransferOutcome::Kind::Stored && transfer->isFile() &&
            !transfer->committed && !transfer->outcome.alreadyThere && !transfer->resumable)
            QFile::remove(QFile::decodeName(transfer->request.localPath + partialFileSuffix));
    }
    curl_multi_cleanup(static_cast<CURLM *>(multi));
    auto &all = engines();
    all.erase(std::find(all.begin(), all.end(), this));
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
    return transfers.at(index)->state == Transfer::State::Finished;
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

void TransferEngine::requeue(Transfer &transfer, long pauseMs)
{
    transfer.state = Transfer::State::Waiting;
    transfer.startAt = Clock::now() + std::chrono::milliseconds(pauseMs);
    --running;
}

bool TransferEngine::tryNextAddress(Transfer &transfer)
{
    if (!transfer.hasNextAddress())
        return false;
    writeLogLine("Transfer\xc3\xaancia " + transfer.url() + " falhou (" + attemptSummary(transfer) +
                 "), tentando o espelho seguinte");
    ++transfer.address;
    transfer.outcome.mirror = transfer.address;
    transfer.outcome.httpStatus = 0;
    transfer.outcome.transferError = 0;
    transfer.outcome.errorText.clear();
    requeue(transfer, 0);
    return true;
}

void TransferEngine::end(Transfer &transfer, TransferOutcome::Kind kind)
{
    if (transfer.state == Transfer::State::Running || transfer.state == Transfer::State::Preparing)
        --running;
    transfer.hashing.reset();
    transfer.state = Transfer::State::Finished;
    transfer.outcome.kind = kind;
    writeLogLine("Transfer\xc3\xaancia " + transfer.url() + ": " + attemptSummary(transfer));
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

void TransferEngine::cancel()
{
    cancelled = cancelled || std::any_of(transfers.begin(), transfers.end(), [](const auto &transfer) {
                    return transfer->state != Transfer::State::Finished;
                });
    for (const auto &transfer : transfers) {
        if (transfer->state == Transfer::State::Finished)
            continue;
        transfer->releaseHandle(static_cast<CURLM *>(multi));
        transfer->leavePartialFile();
        end(*transfer, TransferOutcome::Kind::Cancelled);
    }
}

void TransferEngine::cancelAll()
{
    for (TransferEngine *engine : engines())
        engine->cancel();
}

void TransferEngine::forgetUnreachableAddresses()
{
    UnreachableOrigins &unreachable = unreachableOrigins();
    const std::lock_guard<std::mutex> lock(unreachable.mutex);
    unreachable.origins.clear();
}

void TransferEngine::startDueTransfers()
{
    const Clock::time_point now = Clock::now();
    // One slice of hashing per run(), however many files wait for theirs.
    bool hashed = false;
    for (const auto &owned : transfers) {
        Transfer &transfer = *owned;
        if (transfer.state == Transfer::State::Waiting &&
            running < maximumRunning * (multiplexing ? streamsPerConnection : 1) && transfer.startAt <= now) {
            ++running;
            if (transfer.isFile() && !transfer.file)
                transfer.prepare();
            transfer.state = Transfer::State::Preparing;
        }
        if (transfer.state != Transfer::State::Preparing || (transfer.hashing && hashed))
            continue;
        hashed = hashed || transfer.hashing;
        if (transfer.continueHashing())
            continue;
        if (transfer.outcome.alreadyThere)
            end(transfer, TransferOutcome::Kind::Stored);
        else if (transfer.keptWhole)
            end(transfer,
                transfer.file->finish() ? TransferOutcome::Kind::Stored : TransferOutcome::Kind::StoreError);
        else if (!transfer.start(static_cast<CURLM *>(multi))) {
            transfer.outcome.transferError = CURLE_FAILED_INIT;
            transfer.leavePartialFile();
            end(transfer, TransferOutcome::Kind::TransferError);
        }
    }
}

void TransferEngine::finishAttempt(Transfer &transfer, int code)
{
    const auto result = CURLcode(code);
    curl_off_t elapsedUs = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_TOTAL_TIME_T, &elapsedUs);
    long status = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t retryAfter = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_RETRY_AFTER, &retryAfter);
    curl_off_t connectedAfterUs = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_CONNECT_TIME_T, &connectedAfterUs);
    long httpVersion = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_HTTP_VERSION, &httpVersion);
    multiplexing = multiplexing || (result == CURLE_OK && httpVersion >= CURL_HTTP_VERSION_2_0);
    transfer.releaseHandle(static_cast<CURLM *>(multi));
    transfer.lastStatus = status;
    if (transfer.errorText[0])
        consoleMessage(transfer.errorText);

    bool retry = false;
    long pauseMs = long(retryPauseMs) << transfer.outcome.retries;
    switch (transfer.stop) {
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
        transfer.discardPartialFile();
        transfer.outcome.transferError = result;
        retry = true;
        break;
    case Transfer::Stop::ValidatorChanged:
        // The file changed since its first bytes came: from byte 0, without counting a try.
        transfer.discardPartialFile();
        requeue(transfer, 0);
        return;
    case Transfer::Stop::None:
        if (result != CURLE_OK) {
            // A body kept in memory that took its whole time limit would take it
            // again: only a stall or a broken connection is worth another try.
            const bool tookTimeLimit = !transfer.isFile() && result == CURLE_OPERATION_TIMEDOUT &&
                                       elapsedUs >= memoryBodyTimeLimitSeconds * 1000000 - 100000;
            retry = isTransientError(result) && !tookTimeLimit;
            if (isUnreachable(result, connectedAfterUs))
                rememberUnreachable(transfer.url());
            transfer.outcome.transferError = result;
            transfer.outcome.errorText = transfer.errorText;
        } else if (status == 416 && transfer.resumeFrom > 0) {
            // The kept bytes reach past the file: it changed. Again from byte 0,
            // at once and without counting a try.
            transfer.discardPartialFile();
            requeue(transfer, 0);
            return;
        } else if (status != 200 && !(status == 206 && transfer.bodyToFile)) {
            // A server that asks for a longer pause than we would wait is down for now.
            retry = isTransientStatus(status) && retryAfter <= retryAfterLimitSeconds;
            transfer.outcome.httpStatus = status;
            if (retryAfter > 0)
                pauseMs = long(retryAfter) * 1000;
        }
        break;
    }

    const bool failed = retry || result != CURLE_OK || transfer.outcome.httpStatus != 0;
    if (failed) {
        transfer.leavePartialFile();
        if (tryNextAddress(transfer))
            return;
        if (retry && transfer.outcome.retries < maximumRetries) {
            ++transfer.outcome.retries;
            transfer.outcome.httpStatus = 0;
            transfer.outcome.transferError = 0;
            requeue(transfer, pauseMs);
            return;
        }
        end(transfer,
            result != CURLE_OK ? TransferOutcome::Kind::TransferError : TransferOutcome::Kind::HttpStatus);
        return;
    }
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
        if (continuedKeptBytes && transfer.outcome.retries < maximumRetries) {
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
        unfinished = unfinished || transfer->state != Transfer::State::Finished;
        hashing = hashing || transfer->state == Transfer::State::Preparing;
        if (transfer->state == Transfer::State::Waiting)
            nextStart = std::min(nextStart, transfer->startAt);
    }
    if (!unfinished || hashing)
        return unfinished;
    if (running > 0) {
        curl_multi_poll(handle, nullptr, 0, waitMs, nullptr);
    } else {
        // Only retries waiting for their time.
        const auto wait =
            std::min<Clock::duration>(nextStart - Clock::now(), std::chrono::milliseconds(waitMs));
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
            transfer->state == Transfer::State::Finished)
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
