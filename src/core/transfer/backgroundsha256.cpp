#include "transfer/backgroundsha256.h"

#include "transfer/sha256.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

constexpr qint64 mostWaiting = 8 << 20;

} // namespace

struct BackgroundSha256::Work {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QByteArray> waiting;
    qint64 waitingBytes = 0;
    bool hashing = false; // a piece taken off the queue is being hashed
    bool stopping = false;
    Sha256 hash;
    std::thread thread;

    void loop()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return stopping || !waiting.empty(); });
            if (stopping)
                return;
            const QByteArray bytes = std::move(waiting.front());
            waiting.pop_front();
            hashing = true;
            lock.unlock();
            hash.addData(bytes);
            lock.lock();
            hashing = false;
            waitingBytes -= bytes.size();
            changed.notify_all();
        }
    }
};

BackgroundSha256::BackgroundSha256() : work(std::make_unique<Work>())
{
    work->thread = std::thread([this] { work->loop(); });
}

BackgroundSha256::~BackgroundSha256()
{
    {
        std::lock_guard<std::mutex> lock(work->mutex);
        work->stopping = true;
    }
    work->changed.notify_all();
    work->thread.join();
}

void BackgroundSha256::addData(const QByteArray &bytes)
{
    std::unique_lock<std::mutex> lock(work->mutex);
    work->changed.wait(lock, [this] { return work->waitingBytes < mostWaiting; });
    work->waiting.push_back(bytes);
    work->waitingBytes += bytes.size();
    work->changed.notify_all();
}

QByteArray BackgroundSha256::hexResult()
{
    std::unique_lock<std::mutex> lock(work->mutex);
    work->changed.wait(lock, [this] { return work->waiting.empty() && !work->hashing; });
    return work->hash.hexResult();
}
