#include "chunks/chunkpack.h"

#include <QFile>
#include <QRegularExpression>
#include <QtEndian>

#include <cstring>

namespace {

const char packMagic[4] = {'L', 'C', 'K', '1'};
constexpr int pieceHeaderSize = 16 + 1 + 4;

} // namespace

QByteArray chunkPackPath(const QByteArray &packSha256)
{
    const QByteArray hex = packSha256.toLower();
    return "packs/" + hex.left(2) + '/' + hex + ".cpk";
}

bool offersChunkPack(const ContentCheck &check)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{64}$"));
    static const QRegularExpression decimal(QStringLiteral("^[0-9]{1,15}$"));
    return hex.match(QString::fromLatin1(check.chunkPackSha256)).hasMatch() &&
           decimal.match(QString::fromLatin1(check.chunkPackSize)).hasMatch() &&
           check.chunkPackSize.toLongLong() > qint64(sizeof packMagic);
}

QByteArray chunkPackStart()
{
    return QByteArray(packMagic, sizeof packMagic);
}

QByteArray chunkPackPiece(const ChunkHash &chunk, bool isDelta, const QByteArray &bytes)
{
    QByteArray piece(reinterpret_cast<const char *>(chunk.data()), int(chunk.size()));
    piece.append(char(isDelta ? 1 : 0));
    char size[4];
    qToLittleEndian(quint32(bytes.size()), size);
    piece.append(size, 4);
    return piece + bytes;
}

std::optional<ChunkPackContents> readChunkPack(QFile &pack, std::uint32_t largestPiece)
{
    const qint64 end = pack.size();
    if (!pack.seek(0) || pack.read(sizeof packMagic) != chunkPackStart())
        return std::nullopt;
    ChunkPackContents pieces;
    for (qint64 at = sizeof packMagic; at < end;) {
        const QByteArray header = pack.read(pieceHeaderSize);
        if (header.size() != pieceHeaderSize || quint8(header[16]) > 1)
            return std::nullopt;
        ChunkHash chunk;
        std::memcpy(chunk.data(), header.constData(), chunk.size());
        const ChunkPackPiece piece{at + pieceHeaderSize, qFromLittleEndian<quint32>(header.constData() + 17),
                                   header[16] == 1};
        at = piece.offset + piece.size;
        if (piece.size == 0 || piece.size > largestPiece || at > end || !pack.seek(at))
            return std::nullopt;
        pieces.emplace(chunk, piece);
    }
    return pieces;
}
