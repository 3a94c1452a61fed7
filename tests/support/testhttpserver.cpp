#include "testhttpserver.h"

#include <QDir>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QByteArray headerValue(const QByteArray &head, const QByteArray &name)
{
    for (const QByteArray &line : head.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

} // namespace

TestHttpServer::TestHttpServer(const QString &rootFolder) : rootFolder(rootFolder)
{
    listeningSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listeningSocket < 0 || ::bind(listeningSocket, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(listeningSocket, 64) != 0 ||
        ::getsockname(listeningSocket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("the test HTTP server cannot listen on 127.0.0.1");
    listeningPort = ntohs(address.sin_port);
    acceptThread = std::thread([this] { acceptConnections(); });
}

TestHttpServer::~TestHttpServer()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        for (const int socket : openSockets)
            ::shutdown(socket, SHUT_RDWR);
    }
    stopped.notify_all();
    ::shutdown(listeningSocket, SHUT_RDWR);
    ::close(listeningSocket);
    acceptThread.join();
    for (std::thread &thread : connectionThreads)
        thread.join();
}

QByteArray TestHttpServer::url(const QByteArray &path) const
{
    return "http://127.0.0.1:" + QByteArray::number(listeningPort) + path;
}

void TestHttpServer::setReply(const QByteArray &path, const Reply &reply)
{
    setReplies(path, {reply});
}

void TestHttpServer::setReplies(const QByteArray &path, std::vector<Reply> sequence)
{
    std::lock_guard<std::mutex> lock(mutex);
    replies[path] = std::move(sequence);
}

std::vector<TestHttpServer::Request> TestHttpServer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return seenRequests;
}

void TestHttpServer::acceptConnections()
{
    for (;;) {
        const int socket = ::accept4(listeningSocket, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            return; // the listening socket was shut down
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) {
            ::close(socket);
            return;
        }
        openSockets.push_back(socket);
        connectionThreads.emplace_back([this, socket] { serveConnection(socket); });
    }
}

bool TestHttpServer::replyFor(const QByteArray &path, Reply &reply)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto canned = replies.find(path);
    if (canned == replies.end())
        return false;
    reply = canned->second.front();
    if (canned->second.size() > 1)
        canned->second.erase(canned->second.begin());
    return true;
}

bool TestHttpServer::sendAll(int socket, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t sent = ::send(socket, data, std::size_t(size), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= sent;
    }
    return true;
}

void TestHttpServer::waitUntilStopped()
{
    std::unique_lock<std::mutex> lock(mutex);
    stopped.wait(lock, [this] { return stopping.load(); });
}

void TestHttpServer::serveConnection(int socket)
{
    QByteArray head;
    char piece[4096];
    while (!head.contains("\r\n\r\n") && head.size() < 64 * 1024) {
        const ssize_t received = ::recv(socket, piece, sizeof piece, 0);
        if (received <= 0)
            break;
        head.append(piece, int(received));
    }
    const QByteArrayList requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QByteArray path = requestLine.value(1);
    const QByteArray range = headerValue(head, "Range");
    const QByteArray ifRange = headerValue(head, "If-Range");
    {
        std::lock_guard<std::mutex> lock(mutex);
        seenRequests.push_back({path, headerValue(head, "User-Agent"), range, ifRange});
    }

    // A canned reply, or the folder's file streamed from disk, so that large files
    // cost the test process no memory.
    Reply reply;
    QFile file(QDir(rootFolder).filePath(QString::fromUtf8(path.mid(1))));
    qint64 bodySize = 0;
    if (replyFor(path, reply)) {
        bodySize = reply.body.size();
    } else if (!rootFolder.isEmpty() && !path.contains("..") && file.open(QIODevice::ReadOnly)) {
        bodySize = file.size();
        reply.etag = '"' + QByteArray::number(bodySize) + '-' +
                     QByteArray::number(QFileInfo(file).lastModified().toMSecsSinceEpoch()) + '"';
    } else {
        reply.status = 404;
        // Like a real server's error page: HTML, and not well-formed XML.
        reply.body = "<html>\r\n<head><title>404 Not Found</title></head>\r\n<body>\r\n<h1>404 Not Found</h1>"
                     "\r\n<hr>\r\n</body>\r\n</html>\r\n";
        bodySize = reply.body.size();
    }

    // "bytes=N-" from a client that still has the file this answer would send.
    qint64 offset = 0;
    if (reply.status == 200 && reply.honourRange && range.startsWith("bytes=") && range.endsWith('-') &&
        !reply.etag.isEmpty() && (ifRange.isEmpty() || ifRange == reply.etag)) {
        offset = std::min(range.mid(6, range.size() - 7).toLongLong(), bodySize);
        reply.status = 206;
    }
    QByteArray headers = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\nConnection: close\r\n" +
                         reply.extraHeaders;
    headers += "Content-Length: " + QByteArray::number(bodySize - offset) + "\r\n";
    if (!reply.etag.isEmpty())
        headers += "ETag: " + reply.etag + "\r\n";
    if (reply.status == 206)
        headers += "Content-Range: bytes " + QByteArray::number(offset) + '-' +
                   QByteArray::number(bodySize - 1) + '/' + QByteArray::number(bodySize) + "\r\n";
    headers += "\r\n";

    // The cut and the stall happen at a point of the file, counted from its
    // first byte also in an answer to a range.
    qint64 limit = bodySize;
    if (reply.closeAfterBytes >= 0)
        limit = std::min(limit, reply.closeAfterBytes);
    if (reply.stallAfterBytes >= 0)
        limit = std::min(limit, reply.stallAfterBytes);

    bool open = sendAll(socket, headers.constData(), headers.size()) && (!file.isOpen() || file.seek(offset));
    std::vector<char> fileChunk(file.isOpen() ? std::size_t(reply.chunkBytes) : 0);
    for (qint64 at = offset; open && at < limit && !stopping; at += reply.chunkBytes) {
        if (at > offset && reply.chunkDelayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.chunkDelayMs));
        const qint64 size = std::min<qint64>(reply.chunkBytes, limit - at);
        const char *chunk = reply.body.constData() + at;
        if (file.isOpen()) {
            chunk = fileChunk.data();
            open = file.read(fileChunk.data(), size) == size;
        }
        open = open && sendAll(socket, chunk, size);
    }
    if (open && reply.stallAfterBytes >= 0)
        waitUntilStopped();

    std::lock_guard<std::mutex> lock(mutex);
    openSockets.erase(std::find(openSockets.begin(), openSockets.end(), socket));
    ::close(socket);
}
