#include "chunks/packunpacker.h"

#include "chunks/filepacks.h"
#include "transfer/partialfile.h"

#include <QFile>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

struct PackUnpacker::Work {
    struct Job {
        QByteArray packFile;
        std::vector<File> files;
    };

    explicit Work(std::size_t items) : states(items) {}

    std::vector<std::atomic<State>> states;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;                  // under mutex
    bool stopping = false;                 // under mutex
    std::vector<QByteArray> unpackedPaths; // the partial files made, for the end
    std::thread thread;

    void loop()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (true) {
            wake.wait(lock, [this] { return stopping || !jobs.empty(); });
            if (stopping)
                return;
            Job job = std::move(jobs.front());
            jobs.pop_front();
            lock.unlock();
            for (const File &file : job.files) {
                const bool placed = placeBesideTarget(job.packFile, file.expected, file.localPath);
                states[file.item] = placed ? State::Ready : State::Failed;
            }
            QFile::remove(QFile::decodeName(job.packFile));
            lock.lock();
            if (stopping)
                return;
        }
    }
};

PackUnpacker::PackUnpacker(std::size_t items) : work(std::make_unique<Work>(items))
{
    work->thread = std::thread([this] { work->loop(); });
}

PackUnpacker::~PackUnpacker()
{
    {
        std::lock_guard<std::mutex> lock(work->mutex);
        work->stopping = true;
        for (const Work::Job &job : work->jobs)
            QFile::remove(QFile::decodeName(job.packFile));
    }
    work->wake.notify_one();
    work->thread.join();
    for (const QByteArray &path : work->unpackedPaths)
        QFile::remove(QFile::decodeName(path + partialFileSuffix));
}

void PackUnpacker::unpack(const QByteArray &packFile, std::vector<File> files)
{
    {
        std::lock_guard<std::mutex> lock(work->mutex);
        for (const File &file : files)
            work->unpackedPaths.push_back(file.localPath);
        work->jobs.push_back({packFile, std::move(files)});
    }
    work->wake.notify_one();
}

void PackUnpacker::fail(const std::vector<File> &files)
{
    for (const File &file : files)
        work->states[file.item] = State::Failed;
}

PackUnpacker::State PackUnpacker::state(std::size_t item) const
{
    return work->states[item];
}

bool PackUnpacker::commit(std::size_t item, const QByteArray &localPath)
{
    return work->states[item] == State::Ready && PartialFile::commitFinished(localPath);
}
