#include "chunks/chunkdeltas.h"

#include <QtEndian>

#include <cstring>

namespace {

const char deltasMagic[4] = {'L', 'C', 'D', '1'};
constexpr std::size_t headerSize = 4 + 4;
constexpr std::size_t entrySize = 16 + 16 + 4 + 4;

void appendNumber(QByteArray &bytes, quint32 value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    bytes.append(raw, 4);
}

void appendHash(QByteArray &bytes, const ChunkHash &hash)
{
    bytes.append(reinterpret_cast<const char *>(hash.data()), int(hash.size()));
}

} // namespace

QByteArray ChunkDeltas::serialize() const
{
    QByteArray raw(deltasMagic, 4);
    appendNumber(raw, quint32(byChunk.size()));
    for (const auto &[chunk, delta] : byChunk) {
        appendHash(raw, chunk);
        appendHash(raw, delta.previous);
        appendNumber(raw, delta.previousSize);
        appendNumber(raw, delta.deltaSize);
    }
    return compressDocument(raw);
}

std::optional<ChunkDeltas> ChunkDeltas::parse(const QByteArray &published, std::size_t maximumEntries)
{
    const std::optional<QByteArray> unpacked =
        decompressDocument(published, headerSize, headerSize + entrySize * maximumEntries);
    if (!unpacked || (unpacked->size() - headerSize) % entrySize != 0 ||
        std::memcmp(unpacked->constData(), deltasMagic, 4) != 0 ||
        qFromLittleEndian<quint32>(unpacked->constData() + 4) != (unpacked->size() - headerSize) / entrySize)
        return std::nullopt;
    const QByteArray &raw = *unpacked;
    ChunkDeltas deltas;
    for (const char *at = raw.constData() + headerSize; at < raw.constData() + raw.size(); at += entrySize) {
        ChunkHash chunk;
        ChunkDelta delta;
        std::memcpy(chunk.data(), at, chunk.size());
        std::memcpy(delta.previous.data(), at + 16, delta.previous.size());
        delta.previousSize = qFromLittleEndian<quint32>(at + 32);
        delta.deltaSize = qFromLittleEndian<quint32>(at + 36);
        if (delta.previousSize == 0 || delta.deltaSize == 0)
            return std::nullopt;
        deltas.byChunk.emplace(chunk, delta);
    }
    return deltas;
}

QByteArray chunkDeltasPath(const QByteArray &deltasSha256)
{
    const QByteArray hex = deltasSha256.toLower();
    return "chunks/" + hex.left(2) + '/' + hex + ".dlt";
}

QByteArray chunkDeltaPath(const ChunkHash &previous, const ChunkHash &chunk)
{
    const QByteArray hex = chunkHashHex(chunk);
    return "deltas/" + hex.left(2) + '/' + chunkHashHex(previous) + '-' + hex;
}
