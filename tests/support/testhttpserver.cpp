#include "testhttpserver.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <stdexcept>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// A failed call gives -1 on every system: INVALID_SOCKET is ~0.
#ifdef Q_OS_WIN
using NativeSocket = SOCKET;
using PollEntry = WSAPOLLFD;
constexpr auto pollSockets = WSAPoll;
constexpr auto closeSocket = closesocket;
constexpr int shutBoth = SD_BOTH, noSignal = 0, closeOnExec = 0;
const bool socketsStarted = [] { // before the first socket
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();
qintptr acceptConnection(qintptr listening)
{
    return qintptr(::accept(NativeSocket(listening), nullptr, nullptr));
}
#else
using NativeSocket = int;
using PollEntry = pollfd;
constexpr auto pollSockets = ::poll;
constexpr auto closeSocket = ::close;
constexpr int shutBoth = SHUT_RDWR, noSignal = MSG_NOSIGNAL, closeOnExec = SOCK_CLOEXEC;
qintptr acceptConnection(qintptr listening)
{
    return ::accept4(int(listening), nullptr, nullptr, SOCK_CLOEXEC);
}
#endif

} // namespace

TestHttpServer::TestHttpServer(const QString &rootFolder) : rootFolder(rootFolder)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    listening = qintptr(::socket(AF_INET, SOCK_STREAM | closeOnExec, 0));
    const NativeSocket native = NativeSocket(listening);
    if (listening < 0 || ::bind(native, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(native, 64) != 0 || ::getsockname(native, reinterpret_cast<sockaddr *>(&address), &length))
        throw std::runtime_error("the test HTTP server cannot listen on 127.0.0.1");
    port = QByteArray::number(ntohs(address.sin_port));
    acceptor = std::thread([this] {
        for (qintptr socket;
             readableUnlessStopping(listening) && (socket = acceptConnection(listening)) >= 0;) {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping) {
                closeSocket(NativeSocket(socket));
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
        for (const qintptr socket : openSockets)
            ::shutdown(NativeSocket(socket), shutBoth);
    }
    stopped.notify_all();
    ::shutdown(NativeSocket(listening), shutBoth);
    closeSocket(NativeSocket(listening));
    acceptor.join();
    for (std::thread &connection : connections)
        connection.join();
}

// Not every system wakes a thread blocked on a socket that another thread closes
// (wine does not): the server's threads wait in short steps and look up between them.
bool TestHttpServer::readableUnlessStopping(qintptr socket) const
{
    while (!stopping) {
        PollEntry entry{NativeSocket(socket), POLLIN, 0};
        if (pollSockets(&entry, 1, 100) != 0)
            return true; // readable, or an error that the next call reports
    }
    return false;
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

void TestHttpServer::serve(qintptr socket)
{
    QByteArray head;
    char piece[4096];
    while (!head.contains("\r\n\r\n") && head.size() < 65536) {
        const auto received =
            readableUnlessStopping(socket) ? ::recv(NativeSocket(socket), piece, sizeof piece, 0) : 0;
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
        // At most a piece's worth at a time: Windows counts the length in an int.
        for (qint64 sent = 0; bytes > 0; data += sent, bytes -= sent)
            if ((sent = ::send(NativeSocket(socket), data, int(std::min<qint64>(bytes, 1 << 20)),
                               noSignal)) <= 0)
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
                                            [this] { return stopping.load(); }))
            break;
        lock.unlock();
        const qint64 bytes = std::min<qint64>(reply.chunkBytes, end - at);
        const char *data = file.isOpen() ? filePiece.data() : reply.body.constData() + at;
        open = (!file.isOpen() || file.read(filePiece.data(), bytes) == bytes) && send(data, bytes);
    }
    std::unique_lock<std::mutex> lock(mutex);
    if (open && reply.stalls)
        stopped.wait(lock, [this] { return stopping.load(); });
    openSockets.erase(socket);
    closeSocket(NativeSocket(socket));
}
