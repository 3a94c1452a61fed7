#include "chunks/filepacks.h"

#include "transfer/partialfile.h"
#include "transfer/sha256.h"

#include <QFile>
#include <QRegularExpression>

namespace {

bool isDecimal(const QByteArray &text)
{
    static const QRegularExpression decimal(QStringLiteral("^[0-9]{1,15}$"));
    return decimal.match(QString::fromLatin1(text)).hasMatch();
}

} // namespace

QByteArray packPath(const QByteArray &packSha256)
{
    const QByteArray hex = packSha256.toLower();
    return "packs/" + hex.left(2) + '/' + hex + ".pack";
}

QByteArray packDownloadPath(const QByteArray &targetFolder, const QByteArray &packSha256)
{
    return targetFolder + (targetFolder.endsWith('/') ? "" : "/") + packSha256.toLower() + ".pacote";
}

bool offersPack(const ContentCheck &check)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{64}$"));
    if (!hex.match(QString::fromLatin1(check.packSha256)).hasMatch() || !isDecimal(check.packOffset) ||
        !isDecimal(check.packSize) || check.size.isEmpty() || !check.hasUsableSize() ||
        check.sha256.isEmpty())
        return false;
    const qint64 packSize = check.packSize.toLongLong();
    return packSize <= largestPack && check.packOffset.toLongLong() + check.bytes() <= packSize;
}

bool placeBesideTarget(const QByteArray &packFile, const ContentCheck &check, const QByteArray &targetPath)
{
    QFile pack(QFile::decodeName(packFile));
    if (!pack.open(QIODevice::ReadOnly) || !pack.seek(check.packOffset.toLongLong()))
        return false;
    const QByteArray bytes = pack.read(check.bytes());
    if (bytes.size() != check.bytes() || Sha256::hexOf(bytes) != check.sha256.toLower())
        return false;
    const std::unique_ptr<PartialFile> file = PartialFile::create(targetPath);
    return file && file->write(bytes.constData(), std::size_t(bytes.size())) && file->finish();
}
