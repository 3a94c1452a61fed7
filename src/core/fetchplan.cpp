#include "fetchplan.h"

#include "playertexts.h"

#include <QFile>
#include <QStorageInfo>

qint64 FetchPlan::bytes() const
{
    qint64 total = 0;
    for (const FetchItem &item : items)
        total = addBytes(total, item.expected);
    return total;
}

std::optional<QString> FetchPlan::diskShortage() const
{
    const QStorageInfo storage(QFile::decodeName(targetFolder));
    const qint64 needed = bytes();
    if (!storage.isValid() || storage.bytesAvailable() >= needed)
        return std::nullopt;
    const auto megabytes = [](qint64 bytes) { return (bytes + (1 << 20) - 1) >> 20; };
    return PlayerText::notEnoughDiskSpace(megabytes(needed), megabytes(storage.bytesAvailable()));
}
