#include "chunks/cutrecord.h"

#include "transfer/folderfile.h"
#include "transfer/partialfile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace {

constexpr char recordMagic[] = "LCR1";
constexpr int headerSize = 4 + 8; // the magic, then the file's modification time in ms

// The record is rewritten at every update of a file: a fast compression, not
// the publisher's.
constexpr int recordCompression = 1;

// The size and modification time the record is bound to; nothing for a file that
// is missing or not a plain file.
std::optional<std::pair<qint64, qint64>> stateOf(const QByteArray &localPath)
{
    const QFileInfo info(QFile::decodeName(localPath));
    if (!info.isFile() || info.isSymLink())
        return std::nullopt;
    return std::make_pair(info.size(), info.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch());
}

} // namespace

QByteArray cutRecordPath(const QByteArray &localPath)
{
    // Below the partial files' suffix, no name of a list can reach it.
    return localPath + partialFileSuffix + ".cortes";
}

void recordCut(const QByteArray &localPath, const ChunkIndex &index)
{
    const auto state = stateOf(localPath);
    if (!state || state->first != index.fileSize) {
        forgetCut(localPath);
        return;
    }
    QByteArray record(recordMagic, 4);
    char time[8];
    qToLittleEndian(state->second, time);
    record.append(time, 8);
    record.append(index.serialize(recordCompression));
    const std::unique_ptr<PartialFile> file = PartialFile::create(cutRecordPath(localPath));
    if (!file || !file->write(record.constData(), std::size_t(record.size())) || !file->commit())
        forgetCut(localPath);
}

std::optional<std::vector<IndexedChunk>> recordedCut(const QByteArray &localPath,
                                                     const ChunkParameters &parameters)
{
    const auto state = stateOf(localPath);
    QFile file(QFile::decodeName(cutRecordPath(localPath)));
    if (!state || !openRegularFile(file, QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray record = file.readAll();
    if (record.size() < headerSize || !record.startsWith(recordMagic) ||
        qFromLittleEndian<qint64>(record.constData() + 4) != state->second)
        return std::nullopt;
    std::optional<ChunkIndex> index = ChunkIndex::parse(record.mid(headerSize), state->first);
    if (!index || !(index->parameters == parameters))
        return std::nullopt;
    return std::move(index->chunks);
}

void forgetCut(const QByteArray &localPath)
{
    QFile::remove(QFile::decodeName(cutRecordPath(localPath)));
}
