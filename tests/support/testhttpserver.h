#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// A small HTTP/1.1 server on 127.0.0.1 and a free port, on threads of its own so
// that it answers while the test's thread is blocked in a transfer. It serves the
// files of a folder (with an ETag of their size and time, and byte ranges), and
// for chosen paths misbehaves as a broken server or network would. Every answer
// closes its connection.
class TestHttpServer
{
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        qint64 closeAfterBytes = -1; // cut the body off after this many bytes
        qint64 stallAfterBytes = -1; // stop sending after this many bytes, keep the connection
        int chunkBytes = 64 * 1024;  // the body is sent in pieces of this size ...
        int chunkDelayMs = 0;        // ... with this pause between them
        QByteArray etag;             // sent as ETag, and what If-Range must name for a 206
        bool honourRange = true;     // answer "Range: bytes=N-" with 206 where If-Range agrees
        QByteArray extraHeaders;     // whole header lines, e.g. "Retry-After: 1\r\n"
    };

    // A body sent in pieces of chunkBytes with a pause of delayMs between them.
    static Reply slowReply(const QByteArray &body, int chunkBytes, int delayMs)
    {
        Reply reply;
        reply.body = body;
        reply.chunkBytes = chunkBytes;
        reply.chunkDelayMs = delayMs;
        return reply;
    }

    struct Request {
        QByteArray path;
        QByteArray userAgent;
        QByteArray range;
        QByteArray ifRange;
    };

    // Serves the files below rootFolder (none when empty).
    explicit TestHttpServer(const QString &rootFolder = QString());
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer &) = delete;
    TestHttpServer &operator=(const TestHttpServer &) = delete;

    quint16 port() const { return listeningPort; }
    // "http://127.0.0.1:PORT" + path
    QByteArray url(const QByteArray &path) const;

    void setReply(const QByteArray &path, const Reply &reply);
    // One reply per request, in turn; the last one answers every later request.
    void setReplies(const QByteArray &path, std::vector<Reply> sequence);
    std::vector<Request> requests() const;

private:
    void acceptConnections();
    void serveConnection(int socket);
    bool replyFor(const QByteArray &path, Reply &reply);
    bool sendAll(int socket, const char *data, qint64 size);
    void waitUntilStopped();

    QString rootFolder;
    int listeningSocket = -1;
    quint16 listeningPort = 0;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::condition_variable stopped;
    std::map<QByteArray, std::vector<Reply>> replies;
    std::vector<Request> seenRequests;
    std::vector<int> openSockets;
    std::vector<std::thread> connectionThreads;
    std::thread acceptThread;
};

// An answer of this status and body, with an ETag and cut off after cutAt bytes
// when given.
inline TestHttpServer::Reply answer(int status, const QByteArray &body = {}, const QByteArray &etag = {},
                                    qint64 cutAt = -1)
{
    TestHttpServer::Reply reply;
    reply.status = status;
    reply.body = body;
    reply.etag = etag;
    reply.closeAfterBytes = cutAt;
    return reply;
}
