#include "singleinstanceguard.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

// Holds the lock for the length of a scope.
class LockHold
{
public:
    explicit LockHold(GuardLock &lock) : lock(lock) { lock.acquire(); }
    ~LockHold() { lock.release(); }
    LockHold(const LockHold &) = delete;
    LockHold &operator=(const LockHold &) = delete;

private:
    GuardLock &lock;
};

} // namespace

#ifdef Q_OS_WIN

GuardLock::GuardLock(const QString &key) : semaphore(key, 1, QSystemSemaphore::Open) {}
GuardLock::~GuardLock() = default;

void GuardLock::acquire()
{
    semaphore.acquire();
}

void GuardLock::release()
{
    semaphore.release();
}

#else

QString guardLockPath(const QString &key)
{
    // In the user's own runtime folder, which no other user may enter: a lock file
    // that others could open would let any of them take the lock and keep every
    // launcher from starting. Launchers of other users still meet at the marker.
    return QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
        .filePath(key + QLatin1String(".lock"));
}

GuardLock::GuardLock(const QString &key)
{
    // The file stays; the system lets go of the lock when its holder ends, also
    // when it is killed.
    const QByteArray path = QFile::encodeName(guardLockPath(key));
    file = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
}

GuardLock::~GuardLock()
{
    if (file >= 0)
        ::close(file);
}

void GuardLock::acquire()
{
    while (file >= 0 && ::flock(file, LOCK_EX) != 0 && errno == EINTR) {
    }
}

void GuardLock::release()
{
    if (file >= 0)
        ::flock(file, LOCK_UN);
}

#endif

QString deriveKey(const QString &key, const QString &salt)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(key.toUtf8());
    hash.addData(salt.toUtf8());
    return QString::fromLatin1(hash.result().toHex());
}

SingleInstanceGuard::SingleInstanceGuard(const QString &key)
    : key(key), lockKey(deriveKey(key, QStringLiteral("_memLockKey"))),
      markerKey(deriveKey(key, QStringLiteral("_sharedmemKey"))), marker(markerKey), lock(lockKey)
{
    // A marker left by a process that was killed has nobody attached; attaching
    // and dropping it makes the system remove it.
    LockHold hold(lock);
    QSharedMemory leftover(markerKey);
    leftover.attach(QSharedMemory::ReadWrite);
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    relinquish();
}

bool SingleInstanceGuard::otherInstanceRunning()
{
    if (marker.isAttached())
        return false;
    LockHold hold(lock);
    const bool attached = marker.attach(QSharedMemory::ReadWrite);
    if (attached)
        marker.detach();
    return attached;
}

bool SingleInstanceGuard::claim()
{
    if (otherInstanceRunning())
        return false;
    bool created;
    {
        LockHold hold(lock);
        created = marker.create(8, QSharedMemory::ReadWrite);
    }
    if (!created)
        relinquish();
    return created;
}

void SingleInstanceGuard::relinquish()
{
    LockHold hold(lock);
    if (marker.isAttached())
        marker.detach();
}
