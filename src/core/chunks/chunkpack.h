#pragma once

#include "chunks/chunklocations.h"
#include "transfer/contentcheck.h"

#include <QByteArray>

#include <optional>
#include <unordered_map>

class QFile;

// What an update of a large file fetches, side by side in one file: every chunk
// of the new version that its version in the release before lacks, in file
// order, each as its delta where the release has one and as it is stored in
// chunks/ otherwise. A player one release behind takes the whole pack in one
// request instead of one request per chunk (thousands, for a percent of a
// gigabyte); every piece of it is checked by the chunk it makes, so a pack of
// another build or a damaged one costs bytes, never a wrong file.
//
// After the 4 bytes "LCK1", each piece: the chunk's 16-byte hash, 1 for a delta
// (the release's chunk deltas name its base) or 0 for the chunk as stored, its
// length (4 bytes, little-endian), and its bytes.

// "packs/ab/abcdef....cpk", below the download base address and the release folder.
QByteArray chunkPackPath(const QByteArray &packSha256);

// The list offers the file's pack: its SHA-256 and a usable size.
bool offersChunkPack(const ContentCheck &check);

QByteArray chunkPackStart();
QByteArray chunkPackPiece(const ChunkHash &chunk, bool isDelta, const QByteArray &bytes);

struct ChunkPackPiece {
    qint64 offset = 0; // of the bytes, in the pack
    std::uint32_t size = 0;
    bool isDelta = false;
};
using ChunkPackContents = std::unordered_map<ChunkHash, ChunkPackPiece, ChunkHashHasher>;

// The pieces of the pack file, by chunk (the first of a chunk named twice);
// nothing when it is not a pack whose pieces all end inside it and are at most
// largestPiece bytes.
std::optional<ChunkPackContents> readChunkPack(QFile &pack, std::uint32_t largestPiece);
