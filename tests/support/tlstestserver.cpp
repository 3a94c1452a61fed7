#include "tlstestserver.h"

#include "gamefolder.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <stdexcept>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// openssl runs through /bin/sh, which leaves files that say how it went: a Windows
// test runs under wine and starts Linux's openssl, which wine can neither wait for
// nor end.
namespace {

#ifdef Q_OS_WIN
const QString shell = "Z:/bin/sh";
QString unixPath(const QString &path)
{
    using ToUnix = char *(CDECL *)(LPCWSTR);
    static const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        throw std::runtime_error("openssl's server needs wine to run under Windows");
    char *found = toUnix(QDir::toNativeSeparators(path).toStdWString().c_str());
    const QString unix = QString::fromUtf8(found);
    HeapFree(GetProcessHeap(), 0, found);
    return unix;
}
#else
const QString shell = "/bin/sh";
QString unixPath(const QString &path)
{
    return path;
}
#endif

void runInShell(const QString &script)
{
    if (!QProcess::startDetached(shell, {"-c", script}))
        throw std::runtime_error("no /bin/sh");
}

QString opensslIn(const QString &folder, const QStringList &arguments)
{
    return "cd '" + unixPath(folder) + "' && exec openssl '" + arguments.join("' '") + "'";
}

} // namespace

void TlsTestServer::openssl(const QStringList &arguments)
{
    const QString said = work.filePath("said.txt"), status = work.filePath("status.txt");
    QFile::remove(status);
    runInShell("(" + opensslIn(work.path(), arguments) + ") > '" + unixPath(said) + "' 2>&1; echo $? > '" +
               unixPath(status) + "'");
    if (writtenSoon(status, 30000).trimmed() != "0")
        throw std::runtime_error("openssl " + arguments.join(' ').toStdString() + " failed:\n" +
                                 writtenSoon(said, 0).toStdString());
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
                 "-addext", "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1"});
    };
    selfSigned("servidor");
    authority = "servidor.crt";
    if (certificate == Certificate::FromAnotherAuthority) {
        selfSigned("outra");
        authority = "outra.crt";
    }

    // Each file as a whole answer with its length: wine's Schannel would wait for
    // ever on a body that only the connection's end delimits.
    const QString served = work.filePath("www"), said = work.filePath("server.txt");
    QDir().mkpath(served);
    for (const QFileInfo &file : QDir(rootFolder).entryInfoList(QDir::Files)) {
        const QByteArray body = readFileBytes(file.filePath());
        writeFileBytes(served + '/' + file.fileName(),
                       "HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
                           body);
    }
    runInShell(opensslIn(served, {"s_server", "-accept", "127.0.0.1:0", "-cert",
                                  unixPath(work.filePath("servidor.crt")), "-key",
                                  unixPath(work.filePath("servidor.key")), "-HTTP"}) +
               " > '" + unixPath(said) + "' 2>&1 & echo $! > '" + unixPath(work.filePath("server.pid")) +
               "'");
    const QRegularExpression accepting("ACCEPT 127\\.0\\.0\\.1:(\\d+)");
    const auto listening = [&] {
        port = accepting.match(QString::fromLatin1(writtenSoon(said, 0))).captured(1).toLatin1();
        return !port.isEmpty();
    };
    if (!QTest::qWaitFor(listening, 10000))
        throw std::runtime_error("openssl s_server did not start");
}

TlsTestServer::~TlsTestServer()
{
    // Read here: the shell may run only once the folder is gone.
    runInShell("kill " + QString::fromLatin1(writtenSoon(work.filePath("server.pid"), 1000).trimmed()));
}

QByteArray TlsTestServer::url(const QByteArray &path) const
{
    return "https://127.0.0.1:" + port + path;
}

QByteArray TlsTestServer::authorityFile() const
{
    return QFile::encodeName(work.filePath(authority));
}
