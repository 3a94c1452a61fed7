// One try of a request on libcurl: the handle set up, the headers and the body
// of the answer read, the body kept in memory or written to the partial file.

#include "buildconfig.h"
#include "platform/proxysettings.h"
#include "transfer/transfer.h"
#include "transfer/unreachableorigins.h"

namespace {

// A smaller file that breaks simply starts again: a record per file would cost
// more than the bytes it saves.
constexpr qint64 resumableSize = 1 << 20;
// No real connection stays below a kilobyte per second for a minute.
constexpr long stallBytesPerSecond = 1024;

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

} // namespace

void initialiseCurlOnce()
{
    struct CurlGlobal {
        CurlGlobal() { curl_global_init(CURL_GLOBAL_ALL); }
        ~CurlGlobal() { curl_global_cleanup(); }
    };
    static CurlGlobal global;
}

void TransferEngine::Transfer::resetAttempt()
{
    bodyStarted = false;
    bodyToFile = false;
    continuedKeptBytes = false;
    body.clear(); // a try that broke leaves no bytes in front of the next one's
    stop = Stop::None;
    announcedSize = -1;
    contentRangeStart = -1;
    errorText[0] = '\0';
    sentValidator.clear();
    outcome.httpStatus = 0;
    outcome.transferError = 0;
    outcome.errorText.clear();
}

bool TransferEngine::Transfer::configureHandle()
{
    const TransferPolicy &policy = engine->policy;
    const long timeLimitSeconds = isFile() ? 0 : policy.memoryBodyTimeLimitSeconds;
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
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, policy.stallTimeoutSeconds) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_TIMEOUT, timeLimitSeconds) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        // Large reads for files: fewer calls to write them, at a few hundred
        // kilobytes per running transfer.
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE,
                         engine->limiter().largestRead(isFile() ? 256L * 1024 : 16L * 1024)) == CURLE_OK &&
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
    if (configured && resumeFrom > 0) {
        // If-Range: the server sends the rest only if the file is still the one
        // whose beginning is on disk; otherwise the whole file, from byte 0.
        sentValidator = validator;
        configured =
            appendHeader(headers, "If-Range: " + validator) &&
            curl_easy_setopt(easy, CURLOPT_RANGE,
                             QByteArray(QByteArray::number(resumeFrom) + '-').constData()) == CURLE_OK;
    }
    // The player's system may name a proxy that libcurl does not read by itself.
    const SystemProxy systemProxy = systemProxyFor(url());
    if (configured && !systemProxy.proxy.isEmpty())
        configured = curl_easy_setopt(easy, CURLOPT_PROXY, systemProxy.proxy.constData()) == CURLE_OK &&
                     curl_easy_setopt(easy, CURLOPT_NOPROXY, systemProxy.noProxy.constData()) == CURLE_OK;
    // Caching proxies keep a copy under the address; these make them ask the server.
    if (configured && request.fromOrigin)
        configured =
            appendHeader(headers, "Cache-Control: no-cache") && appendHeader(headers, "Pragma: no-cache");
    return configured && (!headers || curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers) == CURLE_OK);
}

bool TransferEngine::Transfer::start(CURLM *multi)
{
    resetAttempt();
    if (firstStart == Clock::time_point{})
        firstStart = Clock::now();
    while (hasNextAddress() && isKnownUnreachable(url()))
        outcome.mirror = ++address;
    easy = curl_easy_init();
    if (!easy)
        return false;
    if (!configureHandle() || curl_multi_add_handle(multi, easy) != CURLM_OK) {
        releaseHandle(nullptr);
        return false;
    }
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
    resumable = request.continuedLater && !validator.isEmpty() &&
                std::max(expectedSize(), announcedSize) >= resumableSize &&
                replaceFileContents(QFile::decodeName(resumeRecordPath(request.localPath)),
                                    resumeRecord(request, validator));
    if (recorded && !resumable)
        QFile::remove(QFile::decodeName(resumeRecordPath(request.localPath)));
}

size_t TransferEngine::Transfer::receive(const char *data, size_t size)
{
    // Held back, and handed over again once the player resumes (followPause) or
    // the limit allows (releaseRateLimited).
    if (engine->paused || !engine->limiter().mayReceive(steadyMs())) {
        engine->moveTo(*this, engine->paused ? State::Paused : State::RateLimited);
        return CURL_WRITEFUNC_PAUSE;
    }
    engine->limiter().received(qint64(size));
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
