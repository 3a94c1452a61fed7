#include "singleinstanceguard.h"

#include <QCryptographicHash>

namespace {

// Holds the lock for the length of a scope.
class LockHold
{
public:
    explicit LockHold(QSystemSemaphore &lock) : lock(lock) { lock.acquire(); }
    ~LockHold() { lock.release(); }
    LockHold(const LockHold &) = delete;
    LockHold &operator=(const LockHold &) = delete;

private:
    QSystemSemaphore &lock;
};

} // namespace

QString deriveKey(const QString &key, const QString &salt)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(key.toUtf8());
    hash.addData(salt.toUtf8());
    return QString::fromLatin1(hash.result().toHex());
}

SingleInstanceGuard::SingleInstanceGuard(const QString &key)
    : key(key), lockKey(deriveKey(key, QStringLiteral("_memLockKey"))),
      markerKey(deriveKey(key, QStringLiteral("_sharedmemKey"))), marker(markerKey),
      lock(lockKey, 1, QSystemSemaphore::Open)
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
