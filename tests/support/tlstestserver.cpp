#include "tlstestserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

#include <stdexcept>

void TlsTestServer::openssl(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(work.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("openssl", arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        throw std::runtime_error("openssl " + arguments.join(QLatin1Char(' ')).toStdString() + " failed:\n" +
                                 process.readAll().toStdString());
}

TlsTestServer::TlsTestServer(const QString &rootFolder, Certificate certificate)
{
    if (!work.isValid())
        throw std::runtime_error("no folder for the test server");
    const QStringList newKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"};
    const auto makeAuthority = [&](const QString &name) {
        openssl(QStringList{"req", "-x509", "-days", "2", "-keyout", name + ".key", "-out", name + ".crt",
                            "-subj", "/CN=" + name} +
                newKey);
    };
    makeAuthority("autoridade");
    const QString signer =
        QLatin1String(certificate == Certificate::FromAnotherAuthority ? "outra" : "autoridade");
    if (signer != QLatin1String("autoridade"))
        makeAuthority(signer);
    openssl(QStringList{"req", "-keyout", "servidor.key", "-out", "servidor.csr", "-subj", "/CN=127.0.0.1"} +
            newKey);
    QFile extensions(work.filePath("extensoes"));
    if (!extensions.open(QIODevice::WriteOnly) || extensions.write("subjectAltName=IP:127.0.0.1\n") <= 0)
        throw std::runtime_error("cannot write the certificate's extensions");
    extensions.close();
    // Valid from now on; an expired one ends a day before it begins.
    openssl({"x509", "-req", "-in", "servidor.csr", "-CA", signer + ".crt", "-CAkey", signer + ".key",
             "-CAcreateserial", "-out", "servidor.crt", "-extfile", "extensoes", "-days",
             QLatin1String(certificate == Certificate::Expired ? "-1" : "2")});

    // It serves the files of its working folder and names the port it took.
    server.setWorkingDirectory(rootFolder);
    server.start("openssl", {"s_server", "-accept", "127.0.0.1:0", "-cert", work.filePath("servidor.crt"),
                             "-key", work.filePath("servidor.key"), "-WWW"});
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
    return QFile::encodeName(work.filePath("autoridade.crt"));
}
