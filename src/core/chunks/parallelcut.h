#pragma once

#include "chunks/chunkindex.h"

#include <QByteArray>

#include <atomic>
#include <optional>
#include <vector>

// The chunks of a player's file in file order, exactly as one pass of
// forEachChunk cuts them, but a large file is cut in two halves at once, one on
// a thread of its own: cutting and hashing a gigabyte takes a second of one
// core, and an update waits for it. The second half is cut as if a chunk began
// in its middle; once a cut of the first half falls on a cut of the second, the
// two agree from there on (a chunk's end depends only on its own bytes), and the
// first half's chunks up to there and the second's from there are the file's.
// Nothing when the file cannot be read or stop turns true.
std::optional<std::vector<IndexedChunk>>
cutFileInChunks(const QByteArray &path, const ChunkParameters &parameters, const std::atomic<bool> &stop);
