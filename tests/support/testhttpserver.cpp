#include "testhttpserver.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

TestHttpServer::TestHttpServer(const QString &rootFolder) : rootFolder(rootFolder)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening < 0 || ::bind(listening, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(listening, 64) != 0 ||
        ::getsockname(listening, reinterpret_cast<sockaddr *>(&address), &length))
        throw std::runtime_error("the test HTTP server cannot listen on 127.0.0.1");
    port = QByteArray::number(ntohs(address.sin_port));
    acceptor = std::thread([this] {
        for (int socket; (socket = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping) {
                ::close(socket);
                return;
            }
            openSockets.insert(socket);
            connections.emplace_back([this, socket] { serve(socket); });
        }
    });
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
    ::shutdown(listening, SHUT_RDWR);
    ::close(listening);
    acceptor.join();
    for (std::thread &connection : connections)
        connection.join();
}

QByteArray TestHttpServer::url(const QByteArray &path) const
{
    return "http://127.0.0.1:" + port + path;
}

void TestHttpServer::setReplies(const QByteArray &path, std::vector<Reply> sequence)
{
    std::lock_guard<std::mutex> lock(mutex);
    replies[path] = std::move(sequence);
}

std::vector<TestHttpServer::Request> TestHttpServer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return seen;
}

void TestHttpServer::serve(int socket)
{
    QByteArray head;
    char piece[4096];
    while (!head.contains("\r\n\r\n") && head.size() < 65536) {
        const ssize_t received = ::recv(socket, piece, sizeof piece, 0);
        if (received <= 0)
            break;
        head.append(piece, int(received));
    }
    std::map<QByteArray, QByteArray> header;
    for (const QByteArray &line : head.split('\n'))
        if (const int colon = line.indexOf(':'); colon > 0)
            header[line.left(colon).trimmed().toLower()] = line.mid(colon + 1).trimmed();
    const QByteArray path = head.left(head.indexOf("\r\n")).split(' ').value(1);
    const QByteArray range = header["range"], ifRange = header["if-range"];

    // A canned reply, or the folder's file streamed from disk, so that large files
    // cost the test process no memory.
    Reply reply;
    QFile file(QDir(rootFolder).filePath(QString::fromUtf8(path.mid(1))));
    {
        std::unique_lock<std::mutex> lock(mutex);
        seen.push_back({path, header["user-agent"], range, ifRange});
        if (auto canned = replies.find(path); canned != replies.end()) {
            reply = canned->second.front();
            if (canned->second.size() > 1)
                canned->second.erase(canned->second.begin());
        } else if (!rootFolder.isEmpty() && !path.contains("..") && file.open(QIODevice::ReadOnly)) {
            reply.etag = '"' + QByteArray::number(file.size()) + '-' +
                         QByteArray::number(QFileInfo(file).lastModified().toMSecsSinceEpoch()) + '"';
        } else { // like a real server's error page: HTML, not well-formed XML
            reply = answer(404, "<html>\r\n<head><title>404 Not Found</title></head>\r\n<body>\r\n"
                                "<h1>404 Not Found</h1>\r\n<hr>\r\n</body>\r\n</html>\r\n");
        }
    }
    if (!reply.staleCopy.isEmpty() && !header["cache-control"].contains("no-cache"))
        reply.body = reply.staleCopy;
    const qint64 size = file.isOpen() ? file.size() : reply.body.size();

    // "bytes=N-" from a client that still has the file this answer would send.
    qint64 offset = 0;
    if (reply.status == 200 && reply.honourRange && range.startsWith("bytes=") && range.endsWith('-') &&
        !reply.etag.isEmpty() && (ifRange.isEmpty() || ifRange == reply.etag || !reply.honourIfRange)) {
        offset = std::min(range.mid(6, range.size() - 7).toLongLong(), size);
        reply.status = 206;
    }
    QByteArray headers = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\nConnection: close\r\n" +
                         reply.extraHeaders + "Content-Length: " + QByteArray::number(size - offset) + "\r\n";
    if (!reply.etag.isEmpty())
        headers += "ETag: " + reply.etag + "\r\n";
    if (reply.status == 206)
        headers += "Content-Range: bytes " + QByteArray::number(offset) + '-' + QByteArray::number(size - 1) +
                   '/' + QByteArray::number(size) + "\r\n";
    const auto send = [socket](const char *data, qint64 bytes) {
        for (ssize_t sent = 0; bytes > 0; data += sent, bytes -= sent)
            if ((sent = ::send(socket, data, std::size_t(bytes), MSG_NOSIGNAL)) <= 0)
                return false;
        return true;
    };
    bool open =
        send((headers + "\r\n").constData(), headers.size() + 2) && (!file.isOpen() || file.seek(offset));
    const qint64 end = reply.cutAt >= 0 ? std::min(size, reply.cutAt) : size;
    // One buffer for the file's pieces: freed ones would count as this process's memory.
    QByteArray filePiece(file.isOpen() ? reply.chunkBytes : 0, Qt::Uninitialized);
    for (qint64 at = offset; open && at < end; at += reply.chunkBytes) {
        std::unique_lock<std::mutex> lock(mutex);
        if (at > offset && stopped.wait_for(lock, std::chrono::milliseconds(reply.chunkDelayMs),
                                            [this] { return stopping; }))
            break;
        lock.unlock();
        const qint64 bytes = std::min<qint64>(reply.chunkBytes, end - at);
        const char *data = file.isOpen() ? filePiece.data() : reply.body.constData() + at;
        open = (!file.isOpen() || file.read(filePiece.data(), bytes) == bytes) && send(data, bytes);
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (open && reply.stalls)
        stopped.wait(lock, [this] { return stopping; });
    openSockets.erase(socket);
    ::close(socket);
}
