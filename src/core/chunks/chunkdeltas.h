#pragma once

#include "chunks/chunklocations.h"

#include <QByteArray>

#include <optional>
#include <unordered_map>

// A changed chunk as the delta of the chunk that stood at its place in the
// file's version before: published by launcher-publish build from the previous
// release, and worth it where a few kilobytes of a chunk changed.
struct ChunkDelta {
    ChunkHash previous{};
    std::uint32_t previousSize = 0;
    std::uint32_t deltaSize = 0;
};

// A file's chunk deltas, by the hash of the chunk each one makes; stored
// zstd-compressed in the server's "chunks/" folder, named by its SHA-256, which
// the list gives beside the file's index.
struct ChunkDeltas {
    std::unordered_map<ChunkHash, ChunkDelta, ChunkHashHasher> byChunk;

    QByteArray serialize() const;
    // Nothing when the bytes are not a document of at most maximumEntries deltas.
    static std::optional<ChunkDeltas> parse(const QByteArray &published, std::size_t maximumEntries);
};

// "chunks/ab/abcdef....dlt"
QByteArray chunkDeltasPath(const QByteArray &deltasSha256);
// "deltas/ab/PREVIOUS-CHUNK", by the two chunks' hashes.
QByteArray chunkDeltaPath(const ChunkHash &previous, const ChunkHash &chunk);
