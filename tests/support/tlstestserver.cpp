#include "tlstestserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

#include <stdexcept>

namespace {

#ifdef Q_OS_WIN
const QString opensslProgram = "Z:/usr/bin/openssl";
// Where Linux's openssl finds a file of drive Z:.
QString pathForOpenssl(const QString &path)
{
    return path.mid(2);
}
#else
const QString opensslProgram = "openssl";
QString pathForOpenssl(const QString &path)
{
    return path;
}
#endif

} // namespace

void TlsTestServer::openssl(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(work.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(opensslProgram, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        throw std::runtime_error("openssl " + arguments.join(QLatin1Char(' ')).toStdString() + " failed:\n" +
                                 process.readAll().toStdString());
}

TlsTestServer::TlsTestServer(const QString &rootFolder, Certificate certificate)
{
    if (!work.isValid())
        throw std::runtime_error("no folder for the test server");
    // Self-signed certificates, each its own authority: the launcher is told to
    // trust the server's own, or another one.
    const auto selfSigned = [&](const QString &name) {
        openssl({"req", "-x509", "-days", "2", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                 "-nodes", "-keyout", name + ".key", "-out", name + ".crt", "-subj", "/CN=127.0.0.1",
                 "-addext", "subjectAltName=IP:127.0.0.1"});
    };
    selfSigned("servidor");
    authority = "servidor.crt";
    if (certificate == Certificate::FromAnotherAuthority) {
        selfSigned("outra");
        authority = "outra.crt";
    } else if (certificate == Certificate::Expired) { // it ended a day before it began
        openssl({"x509", "-in", "servidor.crt", "-signkey", "servidor.key", "-days", "-1", "-out",
                 "vencido.crt"});
        QFile::remove(work.filePath("servidor.crt"));
        QFile::rename(work.filePath("vencido.crt"), work.filePath("servidor.crt"));
    }

    // It serves the files of its working folder and names the port it took.
    server.setWorkingDirectory(rootFolder);
    server.start(opensslProgram, {"s_server", "-accept", "127.0.0.1:0", "-cert",
                                  pathForOpenssl(work.filePath("servidor.crt")), "-key",
                                  pathForOpenssl(work.filePath("servidor.key")), "-WWW"});
    const QRegularExpression accepting("ACCEPT 127\\.0\\.0\\.1:(\\d+)");
    QByteArray said;
    for (QDeadlineTimer deadline(10000);
         port.isEmpty() && server.waitForReadyRead(int(deadline.remainingTime()));) {
        said += server.readAllStandardOutput();
        port = accepting.match(QString::fromLatin1(said)).captured(1).toLatin1();
    }
    if (port.isEmpty())
        throw std::runtime_error("openssl s_server did not start: " + said.toStdString());
}

TlsTestServer::~TlsTestServer()
{
    server.kill();
    server.waitForFinished(5000);
}

QByteArray TlsTestServer::url(const QByteArray &path) const
{
    return "https://127.0.0.1:" + port + path;
}

QByteArray TlsTestServer::authorityFile() const
{
    return QFile::encodeName(work.filePath(authority));
}
