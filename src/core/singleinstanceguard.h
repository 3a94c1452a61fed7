#pragma once

#include <QSharedMemory>
#include <QString>

#ifdef Q_OS_WIN
#include <QSystemSemaphore>
#endif

// The cross-process lock under which every look at the marker happens. On
// Windows a named semaphore. Elsewhere a file lock: the system semaphore there
// is removed when the process that created it ends, even while others wait on
// it, and two launchers started together could then both go on.
class GuardLock
{
public:
    explicit GuardLock(const QString &key);
    ~GuardLock();
    GuardLock(const GuardLock &) = delete;
    GuardLock &operator=(const GuardLock &) = delete;

    void acquire();
    void release();

private:
#ifdef Q_OS_WIN
    QSystemSemaphore semaphore;
#else
    int file = -1;
#endif
};

#ifndef Q_OS_WIN
// Where the lock of the guard with this key lives: readable by its user alone.
QString guardLockPath(const QString &key);
#endif

// 40 lower-case hex digits of the SHA-1 of key followed by salt: the names of the
// guard's cross-process objects.
QString deriveKey(const QString &key, const QString &salt);

// Lets one launcher run per machine. The running instance holds a small named
// shared-memory segment (the marker); every look at the marker happens under a
// named system semaphore (the lock), so of two launchers started together only
// one can create it.
class SingleInstanceGuard
{
public:
    explicit SingleInstanceGuard(const QString &key);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard &) = delete;
    SingleInstanceGuard &operator=(const SingleInstanceGuard &) = delete;

    bool otherInstanceRunning();
    // True when this process now holds the marker and may go on.
    bool claim();
    void relinquish();

private:
    const QString key;
    const QString lockKey;
    const QString markerKey;
    QSharedMemory marker;
    GuardLock lock;
};
