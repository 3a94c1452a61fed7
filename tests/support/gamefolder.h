#pragma once

#include "transfer/transferpolicy.h"

#include <QFile>
#include <QCryptographicHash>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The transfer policy of the tests: short retry pauses, and the stall and time
// limits given.
TransferPolicy testTransferPolicy(long stallTimeoutSeconds = 60);

// A fresh, empty game folder that is the working directory while the object
// lives, as the launcher expects to run in one.
class TemporaryGameFolder
{
public:
    TemporaryGameFolder();
    ~TemporaryGameFolder();

    QString path() const { return folder.path(); }
    QString filePath(const QString &name) const { return folder.filePath(name); }

private:
    QString previousWorkingDirectory;
    QTemporaryDir folder;
};

// Root opens any file: without its two capabilities that override file access the
// calling thread is refused one like any other user (Windows has none: a no-op).
bool overrideFileAccess(bool allowed);

// A file held by another program (an antivirus) or by itself running: on Windows a handle
// sharing nothing or only reading; elsewhere no permissions (root's override dropped for the
// holding thread) or only reading and running. Released when destroyed, from any thread.
class FileHold
{
public:
    enum Leaves { Nothing, ReadingAndRunning };
    explicit FileHold(const QString &path, Leaves leaves = Nothing);
    ~FileHold();
    FileHold(const FileHold &) = delete;
    FileHold &operator=(const FileHold &) = delete;

private:
    QString path;
    QFile::Permissions permissions; // as found
    void *handle = nullptr;
};

// A FIFO at path, where the system has them (not on Windows: false).
bool makeFifo(const char *path);

QByteArray readFileBytes(const QString &path);
void writeFileBytes(const QString &path, const QByteArray &bytes);
// What another process writes to path, once it has; nothing after the deadline.
QByteArray writtenSoon(const QString &path, int ms = 10000);
inline QByteArray configBytes()
{
    return readFileBytes("config.xml");
}
inline QByteArray sha256Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}
// Bytes of a seeded generator: a chunk in the wrong place shows.
QByteArray randomBytes(int size, quint32 seed);
// The launcher's partial files below the working directory: what a failure or a
// kill may have left behind.
QStringList partialFilesLeft();
// The working directory's entries, hidden ones included, without the launcher's
// log: what a test asserts is that nothing else was left behind.
QStringList entriesBesidesTheLog();
