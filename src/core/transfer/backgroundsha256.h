#pragma once

#include <QByteArray>

#include <memory>

// SHA-256 of bytes handed over in order, computed on a thread of its own: a file
// built at disk speed is hashed on the other core instead of between its writes.
// The bytes are shared, not copied (a QByteArray handed over is not changed
// afterwards); at most a few megabytes wait at a time.
class BackgroundSha256
{
public:
    BackgroundSha256();
    ~BackgroundSha256();
    BackgroundSha256(const BackgroundSha256 &) = delete;
    BackgroundSha256 &operator=(const BackgroundSha256 &) = delete;

    void addData(const QByteArray &bytes);
    // Of everything handed over, once it is hashed: 64 lower-case hex digits.
    QByteArray hexResult();

private:
    struct Work;
    std::unique_ptr<Work> work;
};
