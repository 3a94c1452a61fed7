#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// openssl's own server on 127.0.0.1 and a free port, serving a folder's files (as
// they are when it starts) over HTTPS with a certificate openssl makes for it
// alone, which the launcher is told to trust, or told of another.
class TlsTestServer
{
public:
    enum class Certificate { Trusted, FromAnotherAuthority };

    explicit TlsTestServer(const QString &rootFolder, Certificate certificate = Certificate::Trusted);
    ~TlsTestServer();

    // "https://127.0.0.1:PORT" + path
    QByteArray url(const QByteArray &path) const;
    // The PEM file of the authority a launcher under test is to trust.
    QByteArray authorityFile() const;

private:
    void openssl(const QStringList &arguments); // in the work folder; throws when it fails

    QTemporaryDir work;
    QString authority;
    QByteArray port;
};
