#pragma once

#include "chunks/contentchunker.h"

#include <QByteArray>

#include <optional>
#include <vector>

// One chunk of a published file, in file order. On the server it is stored
// compressed when that is smaller than size, else as it is.
struct IndexedChunk {
    ChunkHash hash{};
    std::uint32_t size = 0;

    bool operator==(const IndexedChunk &other) const { return hash == other.hash && size == other.size; }
};

// How a published file is cut into chunks: stored zstd-compressed in the server's
// "chunks/" folder, each once under its hash. The list names the index by its
// SHA-256, which places it in the same folder.
struct ChunkIndex {
    ChunkParameters parameters;
    qint64 fileSize = 0;
    std::vector<IndexedChunk> chunks;

    // Compressed, as it is published (at the publisher's level unless another is asked).
    QByteArray serialize(int compressionLevel = 19) const;
    // Nothing when the bytes are not a consistent index of a file of fileSize
    // bytes.
    static std::optional<ChunkIndex> parse(const QByteArray &published, qint64 fileSize);
    // Its chunks add up to the file, and each but the last lies within its
    // minimum and maximum, so that it never holds more entries than its file can
    // have chunks.
    bool isConsistent() const;
};

// Entries as an index stores them: the hash, then the size in 4 bytes,
// little-endian.
constexpr int chunkEntrySize = 16 + 4;
QByteArray chunkEntries(const IndexedChunk *first, const IndexedChunk *last);
// Appends the count entries at raw.
void readChunkEntries(const char *raw, std::size_t count, std::vector<IndexedChunk> &chunks);

// "chunks/ab/abcdef...", below the download base address and the release folder.
QByteArray chunkPath(const ChunkHash &hash);
QByteArray chunkIndexPath(const QByteArray &indexSha256);

// A document of the server's "chunks/" folder (an index, a file's chunk deltas)
// as it is published: one zstd frame.
QByteArray compressDocument(const QByteArray &raw, int level = 19);
// Its bytes, or nothing when published is not one frame of minimumSize to
// maximumSize bytes.
std::optional<QByteArray> decompressDocument(const QByteArray &published, quint64 minimumSize,
                                             quint64 maximumSize);

// A chunk as the server keeps it: compressed where that saves bytes.
QByteArray storeChunk(const char *data, std::size_t size);
// The chunk's own bytes, or nothing when stored is not what the index says: as
// many bytes as the chunk, or fewer in one zstd frame.
std::optional<QByteArray> restoreChunk(const QByteArray &stored, const IndexedChunk &chunk);
