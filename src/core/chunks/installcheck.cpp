#include "chunks/installcheck.h"

#include "transfer/folderfile.h"
#include "transfer/sha256.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

bool differs(const InstalledFile &file)
{
    if (file.expected.size.isEmpty() || file.expected.sha256.isEmpty())
        return false;
    QFile contents(QFile::decodeName(file.path));
    Sha256 hash;
    return !openRegularFile(contents, QIODevice::ReadOnly) ||
           contents.size() != file.expected.size.toLongLong() || !hash.addData(contents) ||
           hash.hexResult() != file.expected.sha256.toLower();
}

} // namespace

std::vector<bool> findDamagedFiles(const std::vector<InstalledFile> &files, const std::function<void()> &wait)
{
    // Disks answer several reads at once faster than one after the other.
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
    std::vector<char> damaged(files.size(), 0);
    std::atomic<std::size_t> nextFile{0};
    std::atomic<unsigned> done{0};
    std::vector<std::thread> threads;
    for (unsigned worker = 0; worker < workers; ++worker) {
        threads.emplace_back([&] {
            for (std::size_t at; (at = nextFile++) < files.size();)
                damaged[at] = differs(files[at]);
            ++done;
        });
    }
    while (done < workers) {
        wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (std::thread &thread : threads)
        thread.join();
    return std::vector<bool>(damaged.begin(), damaged.end());
}
