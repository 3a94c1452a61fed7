#include "packpublisher.h"

#include "chunkpublisher.h"
#include "chunks/filepacks.h"
#include "transfer/sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <vector>

namespace {

// A pack grows to about this size, and ends earlier after a file whose SHA-256
// ends in six zero bits: about 64 files, 2 MB of files of 32 KB.
constexpr qint64 packTargetSize = 4 << 20;
constexpr int packEndMask = 63;

bool endsPack(const QByteArray &fileSha256, qint64 packBytes)
{
    return packBytes >= packTargetSize || (fileSha256.right(2).toInt(nullptr, 16) & packEndMask) == 0;
}

} // namespace

bool publishPacks(const QString &releaseFolder, std::map<QByteArray, FileEntry> &files, QString &error)
{
    const QDir release(releaseFolder);
    QByteArray pack;
    std::vector<FileEntry *> packed;
    const auto store = [&] {
        const QByteArray sha256 = Sha256::hexOf(pack);
        for (FileEntry *file : packed) {
            file->check.packSha256 = sha256;
            file->check.packSize = QByteArray::number(pack.size());
        }
        const bool stored =
            pack.isEmpty() || storeOnce(release.filePath(QString::fromLatin1(packPath(sha256))), pack);
        pack.clear();
        packed.clear();
        if (!stored)
            error = QStringLiteral("não foi possível guardar o pacote %1")
                        .arg(QString::fromLatin1(packPath(sha256)));
        return stored;
    };
    for (auto &[name, file] : files) {
        if (file.check.bytes() >= chunkedFileThreshold)
            continue;
        QFile source(release.filePath(QStringLiteral("clientes/") + QString::fromUtf8(name)));
        const QByteArray bytes = source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
        if (bytes.size() != file.check.bytes()) {
            error = QStringLiteral("não foi possível ler clientes/%1").arg(QString::fromUtf8(name));
            return false;
        }
        file.check.packOffset = QByteArray::number(pack.size());
        pack.append(bytes);
        packed.push_back(&file);
        if (endsPack(file.check.sha256, pack.size()) && !store())
            return false;
    }
    return store();
}

QString verifyPack(const QString &releaseFolder, const ContentCheck &check,
                   std::set<QByteArray> &checkedPacks)
{
    const QString path = QDir(releaseFolder).filePath(QString::fromLatin1(packPath(check.packSha256)));
    if (!offersPack(check))
        return QStringLiteral("pack sem packOffset, packSize, size e sha256, ou de um pacote grande demais");
    if (QByteArray::number(QFileInfo(path).size()) != check.packSize)
        return QStringLiteral("o pacote %1 falta ou não tem o tamanho da lista")
            .arg(QString::fromLatin1(packPath(check.packSha256)));
    QFile pack(path);
    if (!pack.open(QIODevice::ReadOnly))
        return QStringLiteral("não foi possível ler o pacote %1")
            .arg(QString::fromLatin1(packPath(check.packSha256)));
    if (!checkedPacks.count(check.packSha256)) {
        if (Sha256::hexOf(pack.readAll()) != check.packSha256.toLower())
            return QStringLiteral("o pacote %1 está danificado")
                .arg(QString::fromLatin1(packPath(check.packSha256)));
        checkedPacks.insert(check.packSha256);
    }
    if (!pack.seek(check.packOffset.toLongLong()) ||
        Sha256::hexOf(pack.read(check.bytes())) != check.sha256.toLower())
        return QStringLiteral("o pacote %1 não tem o arquivo onde a lista diz")
            .arg(QString::fromLatin1(packPath(check.packSha256)));
    return QString();
}
