#include "gamefolder.h"

#include "launcherlog.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <stdexcept>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

TemporaryGameFolder::TemporaryGameFolder() : previousWorkingDirectory(QDir::currentPath())
{
    if (!folder.isValid() || !QDir::setCurrent(folder.path()))
        throw std::runtime_error("cannot enter a temporary game folder");
}

TransferPolicy testTransferPolicy(long stallTimeoutSeconds)
{
    // A test's server fails on purpose: its retries need not wait a player's pauses.
    TransferPolicy policy;
    policy.retryPauseMs = 10;
    policy.stallTimeoutSeconds = policy.memoryBodyTimeLimitSeconds = stallTimeoutSeconds;
    return policy;
}

TemporaryGameFolder::~TemporaryGameFolder()
{
    QDir::setCurrent(previousWorkingDirectory);
}

#ifdef Q_OS_WIN

bool overrideFileAccess(bool)
{
    return true;
}

FileHold::FileHold(const QString &path, Leaves leaves)
    : path(path), handle(CreateFileW(path.toStdWString().c_str(), GENERIC_READ,
                                     leaves == ReadingAndRunning ? FILE_SHARE_READ : 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
{
    if (handle == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot hold " + path.toStdString());
}

FileHold::~FileHold()
{
    CloseHandle(handle);
}

bool makeFifo(const char *)
{
    return false;
}

#else

FileHold::FileHold(const QString &path, Leaves leaves) : path(path), permissions(QFile::permissions(path))
{
    if (leaves == ReadingAndRunning ? !QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner)
                                    : !QFile::setPermissions(path, {}) || !overrideFileAccess(false))
        throw std::runtime_error("cannot hold " + path.toStdString());
}

FileHold::~FileHold()
{
    QFile::setPermissions(path, permissions);
}

bool makeFifo(const char *path)
{
    return ::mkfifo(path, 0666) == 0;
}

bool overrideFileAccess(bool allowed)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned overrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    data[0].effective =
        allowed ? data[0].effective | (overrides & data[0].permitted) : data[0].effective & ~overrides;
    return syscall(SYS_capset, &header, data) == 0;
}

#endif

QByteArray readFileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return file.readAll();
}

void writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

QByteArray writtenSoon(const QString &path, int ms)
{
    QByteArray bytes;
    const auto written = [&] { return QFile::exists(path) && !(bytes = readFileBytes(path)).isEmpty(); };
    return written() || QTest::qWaitFor(written, ms) ? bytes : QByteArray();
}

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

QStringList partialFilesLeft()
{
    QStringList found;
    for (QDirIterator files(".", {"*.~part*"}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         files.hasNext();)
        found << files.next();
    return found;
}

QStringList entriesBesidesTheLog()
{
    QStringList entries =
        QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    entries.removeAll(QString::fromLatin1(logFileName));
    entries.removeAll(QString::fromLatin1(previousLogFileName));
    return entries;
}
