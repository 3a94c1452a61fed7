#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// openssl's own server on 127.0.0.1 and a free port, serving a folder over HTTPS
// with a certificate openssl makes for it alone; on request one the launcher must
// refuse. A Windows test under wine starts Linux's openssl, with the files it
// reads on drive Z:, Linux's root.
class TlsTestServer
{
public:
    enum class Certificate { Trusted, FromAnotherAuthority, Expired };

    explicit TlsTestServer(const QString &rootFolder, Certificate certificate = Certificate::Trusted);
    ~TlsTestServer();

    // "https://127.0.0.1:PORT" + path
    QByteArray url(const QByteArray &path) const;
    // The PEM file of the authority a launcher under test is to trust.
    QByteArray authorityFile() const;

private:
    void openssl(const QStringList &arguments);

#ifdef Q_OS_WIN
    QTemporaryDir work{QStringLiteral("Z:/tmp/launcher-tls-XXXXXX")};
#else
    QTemporaryDir work;
#endif
    QString authority;
    QByteArray port;
    QProcess server;
};
