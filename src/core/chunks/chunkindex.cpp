#include "chunks/chunkindex.h"

#include <QtEndian>

#include <zstd.h>

#include <algorithm>
#include <cstring>

namespace {

const char indexMagic[4] = {'L', 'C', 'X', '1'};
constexpr int headerSize = 4 + 3 * 4 + 8 + 4;
// No release holds a file of more than 16 million chunks (a terabyte).
constexpr std::uint32_t maximumChunks = 1u << 24;
// The smallest minimum chunk size an index may name (ChunkParameters::isValid).
constexpr qint64 smallestMinimum = 64;

// The entries a file of fileSize bytes can be cut into with chunks of at least
// minimum bytes (the last may be shorter).
quint64 largestChunkCount(qint64 fileSize, qint64 minimum)
{
    return std::min<quint64>(quint64(fileSize / minimum) + 1, maximumChunks);
}

template <typename T> void append(QByteArray &bytes, T value)
{
    char raw[sizeof(T)];
    qToLittleEndian(value, raw);
    bytes.append(raw, int(sizeof(T)));
}

template <typename T> T read(const char *at)
{
    return qFromLittleEndian<T>(at);
}

} // namespace

QByteArray ChunkIndex::serialize(int compressionLevel) const
{
    QByteArray raw;
    raw.reserve(headerSize + chunkEntrySize * int(chunks.size()));
    raw.append(indexMagic, 4);
    append(raw, parameters.minimum);
    append(raw, parameters.average);
    append(raw, parameters.maximum);
    append(raw, quint64(fileSize));
    append(raw, quint32(chunks.size()));
    raw.append(chunkEntries(chunks.data(), chunks.data() + chunks.size()));
    return compressDocument(raw, compressionLevel);
}

QByteArray chunkEntries(const IndexedChunk *first, const IndexedChunk *last)
{
    QByteArray raw;
    raw.reserve(chunkEntrySize * int(last - first));
    for (const IndexedChunk *chunk = first; chunk != last; ++chunk) {
        raw.append(reinterpret_cast<const char *>(chunk->hash.data()), int(chunk->hash.size()));
        append(raw, chunk->size);
    }
    return raw;
}

void readChunkEntries(const char *raw, std::size_t count, std::vector<IndexedChunk> &chunks)
{
    for (const char *at = raw; at != raw + count * chunkEntrySize; at += chunkEntrySize) {
        IndexedChunk chunk;
        std::memcpy(chunk.hash.data(), at, chunk.hash.size());
        chunk.size = ::read<quint32>(at + 16);
        chunks.push_back(chunk);
    }
}

QByteArray compressDocument(const QByteArray &raw, int level)
{
    QByteArray compressed(int(ZSTD_compressBound(std::size_t(raw.size()))), Qt::Uninitialized);
    const std::size_t written = ZSTD_compress(compressed.data(), std::size_t(compressed.size()),
                                              raw.constData(), std::size_t(raw.size()), level);
    compressed.resize(ZSTD_isError(written) ? 0 : int(written));
    return compressed;
}

std::optional<QByteArray> decompressDocument(const QByteArray &published, quint64 minimumSize,
                                             quint64 maximumSize)
{
    // Bounded before anything is unpacked: a small document may unpack to
    // hundreds of megabytes.
    const unsigned long long rawSize =
        ZSTD_getFrameContentSize(published.constData(), std::size_t(published.size()));
    if (rawSize == ZSTD_CONTENTSIZE_ERROR || rawSize == ZSTD_CONTENTSIZE_UNKNOWN || rawSize < minimumSize ||
        rawSize > maximumSize)
        return std::nullopt;
    QByteArray raw(int(rawSize), Qt::Uninitialized);
    const std::size_t read = ZSTD_decompress(raw.data(), std::size_t(raw.size()), published.constData(),
                                             std::size_t(published.size()));
    if (ZSTD_isError(read) || read != rawSize)
        return std::nullopt;
    return raw;
}

std::optional<ChunkIndex> ChunkIndex::parse(const QByteArray &published, qint64 fileSize)
{
    // Bounded by the file.
    const std::optional<QByteArray> unpacked =
        fileSize < 0
            ? std::nullopt
            : decompressDocument(published, headerSize,
                                 headerSize + chunkEntrySize * largestChunkCount(fileSize, smallestMinimum));
    if (!unpacked || std::memcmp(unpacked->constData(), indexMagic, 4) != 0)
        return std::nullopt;
    const QByteArray &raw = *unpacked;

    ChunkIndex index;
    const char *at = raw.constData() + 4;
    index.parameters.minimum = ::read<quint32>(at);
    index.parameters.average = ::read<quint32>(at + 4);
    index.parameters.maximum = ::read<quint32>(at + 8);
    index.fileSize = qint64(::read<quint64>(at + 12));
    const quint32 count = ::read<quint32>(at + 20);
    if (index.fileSize != fileSize || quint64(raw.size()) != headerSize + quint64(chunkEntrySize) * count ||
        count > largestChunkCount(fileSize, smallestMinimum))
        return std::nullopt;
    index.chunks.reserve(count);
    readChunkEntries(raw.constData() + headerSize, count, index.chunks);
    if (!index.isConsistent())
        return std::nullopt;
    return index;
}

bool ChunkIndex::isConsistent() const
{
    if (!parameters.isValid() || fileSize < 0 ||
        chunks.size() > largestChunkCount(fileSize, parameters.minimum))
        return false;
    qint64 total = 0;
    for (const IndexedChunk &chunk : chunks) {
        const bool last = &chunk == &chunks.back();
        if (chunk.size == 0 || chunk.size > parameters.maximum || (!last && chunk.size < parameters.minimum))
            return false;
        total += chunk.size;
    }
    return total == fileSize;
}

QByteArray chunkPath(const ChunkHash &hash)
{
    const QByteArray hex = chunkHashHex(hash);
    return "chunks/" + hex.left(2) + '/' + hex;
}

QByteArray chunkIndexPath(const QByteArray &indexSha256)
{
    const QByteArray hex = indexSha256.toLower();
    return "chunks/" + hex.left(2) + '/' + hex + ".idx";
}

QByteArray storeChunk(const char *data, std::size_t size)
{
    QByteArray compressed(int(ZSTD_compressBound(size)), Qt::Uninitialized);
    const std::size_t written =
        ZSTD_compress(compressed.data(), std::size_t(compressed.size()), data, size, 3);
    if (ZSTD_isError(written) || written >= size)
        return QByteArray(data, int(size));
    compressed.resize(int(written));
    return compressed;
}

std::optional<QByteArray> restoreChunk(const QByteArray &stored, const IndexedChunk &chunk)
{
    if (stored.isEmpty() || quint32(stored.size()) > chunk.size)
        return std::nullopt;
    QByteArray bytes;
    if (quint32(stored.size()) == chunk.size) {
        bytes = stored;
    } else {
        bytes.resize(int(chunk.size));
        const std::size_t read = ZSTD_decompress(bytes.data(), std::size_t(bytes.size()), stored.constData(),
                                                 std::size_t(stored.size()));
        if (ZSTD_isError(read) || read != chunk.size)
            return std::nullopt;
    }
    if (chunkHashOf(bytes.constData(), std::size_t(bytes.size())) != chunk.hash)
        return std::nullopt;
    return bytes;
}
