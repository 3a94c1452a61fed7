#include "tlstestserver.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        throw std::runtime_error("cannot write the test server's files");
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A port on 127.0.0.1 that was free a moment ago.
quint16 freePort()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    const bool bound = probe >= 0 &&
                       ::bind(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                       ::getsockname(probe, reinterpret_cast<sockaddr *>(&address), &length) == 0;
    if (probe >= 0)
        ::close(probe);
    if (!bound)
        throw std::runtime_error("no free port on 127.0.0.1");
    return ntohs(address.sin_port);
}

bool accepts(quint16 port)
{
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(port);
    const bool connected =
        probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    if (probe >= 0)
        ::close(probe);
    return connected;
}

} // namespace

void TlsTestServer::openssl(const QByteArray &arguments)
{
    QProcess process;
    process.setWorkingDirectory(work.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), QProcess::splitCommand(QString::fromLatin1(arguments)));
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        throw std::runtime_error("openssl " + arguments.toStdString() + " failed:\n" +
                                 process.readAll().toStdString());
}

TlsTestServer::TlsTestServer(const QString &rootFolder, Certificate certificate)
{
    if (!work.isValid())
        throw std::runtime_error("no folder for the test server");
    const auto makeAuthority = [&](const QByteArray &name) {
        openssl("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -keyout " + name +
                ".key -out " + name + ".crt -subj /CN=" + name);
    };
    makeAuthority("autoridade");
    const QByteArray signer = certificate == Certificate::FromAnotherAuthority ? "outra" : "autoridade";
    if (signer != "autoridade")
        makeAuthority(signer);
    openssl("req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout servidor.key -out servidor.csr "
            "-subj /CN=127.0.0.1");
    writeText(work.filePath(QStringLiteral("extensoes")), "subjectAltName=IP:127.0.0.1\n");
    // Valid from now on; an expired one ends a day before it begins.
    openssl("x509 -req -in servidor.csr -CA " + signer + ".crt -CAkey " + signer +
            ".key -CAcreateserial -out servidor.crt -extfile extensoes -days " +
            (certificate == Certificate::Expired ? "-1" : "2"));

    port = freePort();
    const QByteArray folder = QFile::encodeName(work.path());
    QByteArray config = "worker_processes 1;\ndaemon off;\npid " + folder + "/nginx.pid;\nerror_log " +
                        folder + "/erros.log;\n";
    if (::geteuid() == 0)
        config += "user root;\n"; // the workers read a folder only its owner may enter
    config += "events { worker_connections 256; }\nhttp {\n    access_log off;\n    default_type "
              "application/octet-stream;\n";
    for (const char *temporary : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        config += QByteArray("    ") + temporary + "_temp_path " + folder + "/tmp-" + temporary + ";\n";
    config += "    server {\n        listen 127.0.0.1:" + QByteArray::number(port) + " ssl http2;\n" +
              "        ssl_certificate " + folder + "/servidor.crt;\n        ssl_certificate_key " + folder +
              "/servidor.key;\n        root " + QFile::encodeName(QDir(rootFolder).absolutePath()) +
              ";\n    }\n}\n";
    writeText(work.filePath(QStringLiteral("nginx.conf")), config);

    nginx.setProcessChannelMode(QProcess::ForwardedChannels);
    nginx.start(QStringLiteral("nginx"), {QStringLiteral("-c"), work.filePath(QStringLiteral("nginx.conf")),
                                          QStringLiteral("-p"), work.path()});
    for (int attempt = 0; attempt < 200 && nginx.state() != QProcess::NotRunning; ++attempt) {
        if (accepts(port))
            return;
        QThread::msleep(25);
    }
    throw std::runtime_error("nginx did not start; see " +
                             work.filePath(QStringLiteral("erros.log")).toStdString());
}

TlsTestServer::~TlsTestServer()
{
    nginx.terminate();
    if (!nginx.waitForFinished(5000))
        nginx.kill();
    nginx.waitForFinished(5000);
}

QByteArray TlsTestServer::url(const QByteArray &path) const
{
    return "https://127.0.0.1:" + QByteArray::number(port) + path;
}

QByteArray TlsTestServer::authorityFile() const
{
    return QFile::encodeName(work.filePath(QStringLiteral("autoridade.crt")));
}
