#include "chunks/parallelcut.h"

#include "transfer/folderfile.h"

#include <QFile>

#include <thread>

namespace {

// Smaller files are cut in one pass: a thread would cost more than it saves.
constexpr qint64 smallestSplitFile = 64 << 20;
// How far the first half is cut past the middle, to meet a cut of the second:
// about a hundred chunks, where one or two almost always do.
constexpr qint64 overlap = 1 << 20;

struct PlacedChunk {
    qint64 offset;
    IndexedChunk chunk;
};

// The chunks from offset on, as if one began there, up to the first that starts
// at or after end (or the file's end); false when reading failed or stop.
bool cutFrom(const QByteArray &path, const ChunkParameters &parameters, qint64 from, qint64 end,
             const std::atomic<bool> &stop, std::vector<PlacedChunk> &chunks)
{
    QFile file(QFile::decodeName(path));
    if (!openRegularFile(file, QIODevice::ReadOnly) || !file.seek(from))
        return false;
    bool reachedEnd = false;
    const bool read = forEachChunk(file, parameters,
                                   [&](qint64 offset, const char *, std::size_t size, const ChunkHash &hash) {
                                       if (from + offset >= end) {
                                           reachedEnd = true;
                                           return false;
                                       }
                                       chunks.push_back({from + offset, {hash, std::uint32_t(size)}});
                                       return !stop.load();
                                   });
    return (read || reachedEnd) && !stop.load();
}

} // namespace

std::optional<std::vector<IndexedChunk>>
cutFileInChunks(const QByteArray &path, const ChunkParameters &parameters, const std::atomic<bool> &stop)
{
    const qint64 size = QFile(QFile::decodeName(path)).size();
    const qint64 middle = size >= smallestSplitFile ? size / 2 : size;
    std::vector<PlacedChunk> first, second;
    bool secondRead = true;
    std::thread secondHalf;
    if (middle < size)
        secondHalf = std::thread([&] { secondRead = cutFrom(path, parameters, middle, size, stop, second); });
    const bool firstRead = cutFrom(path, parameters, 0, middle < size ? middle + overlap : size, stop, first);
    if (secondHalf.joinable())
        secondHalf.join();
    if (!firstRead || !secondRead)
        return std::nullopt;
    // The first cut of the first half past the middle that the second half made
    // too; the second half's own first chunk began where no chunk need begin.
    std::size_t joinFirst = first.size(), joinSecond = 0;
    for (std::size_t at = 0, other = 1; at < first.size() && other < second.size();) {
        if (first[at].offset < second[other].offset)
            ++at;
        else if (first[at].offset > second[other].offset)
            ++other;
        else {
            joinFirst = at;
            joinSecond = other;
            break;
        }
    }
    std::vector<IndexedChunk> chunks;
    chunks.reserve(std::size_t(size / parameters.average) + 1);
    for (std::size_t at = 0; at < joinFirst; ++at)
        chunks.push_back(first[at].chunk);
    if (middle < size && joinSecond == 0) {
        // No cut met in the overlap: the rest as one pass does it, from the
        // first half's last chunk's end.
        const qint64 from = first.empty() ? 0 : first.back().offset + first.back().chunk.size;
        second.clear();
        if (!cutFrom(path, parameters, from, size, stop, second))
            return std::nullopt;
        joinSecond = 0;
    }
    for (std::size_t at = joinSecond; at < second.size(); ++at)
        chunks.push_back(second[at].chunk);
    return chunks;
}
