#include "chunks/contentchunker.h"

#include "transfer/sha256.h"

#include <QIODevice>

#include <algorithm>
#include <vector>

namespace {

// 256 fixed random words, the same in every build: publisher and launcher must
// cut the same file at the same places.
constexpr std::array<std::uint64_t, 256> gearTable()
{
    std::array<std::uint64_t, 256> table{};
    std::uint64_t state = 0x6c61756e63686572; // splitmix64
    for (std::uint64_t &word : table) {
        state += 0x9e3779b97f4a7c15;
        std::uint64_t mixed = state;
        mixed = (mixed ^ (mixed >> 30)) * 0xbf58476d1ce4e5b9;
        mixed = (mixed ^ (mixed >> 27)) * 0x94d049bb133111eb;
        word = mixed ^ (mixed >> 31);
    }
    return table;
}
constexpr std::array<std::uint64_t, 256> gear = gearTable();

// The top bits of the hash depend on the most bytes (a 64-byte window).
std::uint64_t topBits(int count)
{
    return count <= 0 ? 0 : ~std::uint64_t(0) << (64 - count);
}

int log2Of(std::uint32_t value)
{
    int bits = 0;
    while (value > 1) {
        value >>= 1;
        ++bits;
    }
    return bits;
}

} // namespace

bool ChunkParameters::isValid() const
{
    return minimum >= 64 && minimum < average && average < maximum && maximum <= 16 * 1024 * 1024 &&
           (average & (average - 1)) == 0;
}

ChunkHash chunkHashOf(const char *data, std::size_t size)
{
    const Sha256::Digest digest = Sha256::of(data, size);
    ChunkHash hash;
    std::copy(digest.begin(), digest.begin() + hash.size(), hash.begin());
    return hash;
}

QByteArray chunkHashHex(const ChunkHash &hash)
{
    return QByteArray(reinterpret_cast<const char *>(hash.data()), int(hash.size())).toHex();
}

// Normalised chunking: two bits harder than the average before it, two easier
// after it, so that chunk sizes gather near the average.
ContentChunker::ContentChunker(const ChunkParameters &parameters)
    : parameters(parameters), smallMask(topBits(log2Of(parameters.average) + 2)),
      largeMask(topBits(log2Of(parameters.average) - 2))
{
}

std::size_t ContentChunker::nextCut(const unsigned char *data, std::size_t size) const
{
    if (size <= parameters.minimum)
        return size;
    const std::size_t end = std::min<std::size_t>(size, parameters.maximum);
    const std::size_t normal = std::min<std::size_t>(end, parameters.average);
    std::uint64_t hash = 0;
    std::size_t at = parameters.minimum;
    for (; at < normal; ++at) {
        hash = (hash << 1) + gear[data[at]];
        if (!(hash & smallMask))
            return at + 1;
    }
    for (; at < end; ++at) {
        hash = (hash << 1) + gear[data[at]];
        if (!(hash & largeMask))
            return at + 1;
    }
    return end;
}

bool forEachChunk(QIODevice &device, const ChunkParameters &parameters,
                  const std::function<bool(qint64, const char *, std::size_t, const ChunkHash &)> &found,
                  QByteArray *wholeHash)
{
    const ContentChunker chunker(parameters);
    // Several maximum chunks at a time, so that a read serves many cuts.
    const std::size_t window = std::max<std::size_t>(4u << 20, 4 * std::size_t(parameters.maximum));
    std::vector<unsigned char> buffer(window);
    Sha256 whole;
    std::size_t held = 0;
    qint64 offset = 0;
    bool atEnd = false;
    for (;;) {
        if (!atEnd && held < parameters.maximum) {
            const qint64 read =
                device.read(reinterpret_cast<char *>(buffer.data()) + held, qint64(window - held));
            if (read < 0)
                return false;
            if (wholeHash)
                whole.addData(reinterpret_cast<const char *>(buffer.data()) + held, std::size_t(read));
            held += std::size_t(read);
            atEnd = read == 0;
            continue;
        }
        if (held == 0)
            break;
        std::size_t start = 0;
        while (held - start >= parameters.maximum || (atEnd && start < held)) {
            const std::size_t length = chunker.nextCut(buffer.data() + start, held - start);
            const char *chunk = reinterpret_cast<const char *>(buffer.data()) + start;
            if (!found(offset, chunk, length, chunkHashOf(chunk, length)))
                return false;
            offset += qint64(length);
            start += length;
        }
        std::copy(buffer.begin() + std::ptrdiff_t(start), buffer.begin() + std::ptrdiff_t(held),
                  buffer.begin());
        held -= start;
    }
    if (wholeHash)
        *wholeHash = whole.hexResult();
    return true;
}
