#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

// An HTTP/1.1 server on 127.0.0.1 and a free port, a thread per connection so that
// it answers while the test's thread is blocked in a transfer. It serves a folder's
// files (with an ETag of their size and time, and byte ranges) and, for chosen
// paths, replies that misbehave as a broken server, network or caching proxy
// would. Every answer closes its connection.
class TestHttpServer
{
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray etag;                              // sent as ETag, and what If-Range must name for a 206
        qint64 cutAt = -1;                            // the body ends after this many bytes of the file ...
        bool stalls = false;                          // ... and the connection then stays open, silent
        int chunkBytes = 64 * 1024, chunkDelayMs = 0; // sent in pieces, with pauses between
        bool honourRange = true;
        bool honourIfRange = true; // false: a range of whatever the server holds now
        QByteArray extraHeaders;   // whole lines, e.g. "Retry-After: 1\r\n"
        // What a caching proxy holds from before: sent instead of body unless the
        // request says no-cache.
        QByteArray staleCopy;
    };
    struct Request {
        QByteArray path, userAgent, range, ifRange;
    };

    explicit TestHttpServer(const QString &rootFolder = QString()); // none: no files
    ~TestHttpServer();

    // "http://127.0.0.1:PORT" + path
    QByteArray url(const QByteArray &path) const;
    // One reply per request, in turn; the last one answers every later request.
    void setReplies(const QByteArray &path, std::vector<Reply> sequence);
    void setReply(const QByteArray &path, const Reply &reply) { setReplies(path, {reply}); }
    std::vector<Request> requests() const;

private:
    void serve(qintptr socket);
    bool readableUnlessStopping(qintptr socket) const;

    QString rootFolder;
    qintptr listening = -1; // a socket, as the system numbers it
    QByteArray port;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::condition_variable stopped;
    std::map<QByteArray, std::vector<Reply>> replies;
    std::vector<Request> seen;
    std::set<qintptr> openSockets;
    std::vector<std::thread> connections;
    std::thread acceptor;
};

inline TestHttpServer::Reply answer(int status, const QByteArray &body = {}, const QByteArray &etag = {},
                                    qint64 cutAt = -1)
{
    TestHttpServer::Reply reply;
    reply.status = status;
    reply.body = body;
    reply.etag = etag;
    reply.cutAt = cutAt;
    return reply;
}

inline TestHttpServer::Reply slowReply(const QByteArray &body, int chunkBytes, int delayMs)
{
    TestHttpServer::Reply reply = answer(200, body);
    reply.chunkBytes = chunkBytes;
    reply.chunkDelayMs = delayMs;
    return reply;
}
