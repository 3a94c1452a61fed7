#include "transfer/sha256.h"

#include <QIODevice>

bool Sha256::addData(QIODevice &device)
{
    QByteArray piece(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 read = device.read(piece.data(), piece.size());
        if (read < 0)
            return false;
        if (read == 0)
            return device.atEnd();
        addData(piece.constData(), std::size_t(read));
    }
}

QByteArray Sha256::hexResult()
{
    const Digest digest = result();
    return QByteArray(reinterpret_cast<const char *>(digest.data()), int(digest.size())).toHex();
}

Sha256::Digest Sha256::of(const char *data, std::size_t size)
{
    thread_local Sha256 hasher;
    hasher.addData(data, size);
    return hasher.result();
}

QByteArray Sha256::hexOf(const QByteArray &data)
{
    const Digest digest = of(data.constData(), std::size_t(data.size()));
    return QByteArray(reinterpret_cast<const char *>(digest.data()), int(digest.size())).toHex();
}
