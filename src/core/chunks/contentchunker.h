#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <functional>

class QIODevice;

// Where content-defined chunks of a file end: a cut falls where a rolling hash of
// the last bytes says so, in the manner of FastCDC, so an insertion or a removal
// moves only the chunks around it and every chunk after them is found again.
//
// 8 KiB on average: a game update that rewrites scattered 4 KiB records then
// fetches under 5% of a file for 1% of it changed; 16 KiB would fetch about 7%,
// and 4 KiB would double the index and the requests for one point less.
struct ChunkParameters {
    std::uint32_t minimum = 2 * 1024;
    std::uint32_t average = 8 * 1024; // a power of two
    std::uint32_t maximum = 64 * 1024;

    bool isValid() const;
    bool operator==(const ChunkParameters &other) const
    {
        return minimum == other.minimum && average == other.average && maximum == other.maximum;
    }
};

// The first 16 bytes of a chunk's SHA-256: its name on the update server and its
// key among the chunks a player already has.
using ChunkHash = std::array<std::uint8_t, 16>;

ChunkHash chunkHashOf(const char *data, std::size_t size);
QByteArray chunkHashHex(const ChunkHash &hash);

class ContentChunker
{
public:
    explicit ContentChunker(const ChunkParameters &parameters);

    // The length of the chunk that starts at data, where size bytes are at hand;
    // at most size. Unless atEnd, size must reach the maximum or beyond.
    std::size_t nextCut(const unsigned char *data, std::size_t size) const;

private:
    ChunkParameters parameters;
    std::uint64_t smallMask; // before the average: cuts are rarer
    std::uint64_t largeMask; // after it: cuts are likelier
};

// Reads device to its end and calls found for every chunk in order, with its
// offset, its bytes and its hash. False when reading failed or found said stop.
// wholeHash, when given, receives the hex SHA-256 of everything read.
bool forEachChunk(QIODevice &device, const ChunkParameters &parameters,
                  const std::function<bool(qint64 offset, const char *data, std::size_t size,
                                           const ChunkHash &hash)> &found,
                  QByteArray *wholeHash = nullptr);
