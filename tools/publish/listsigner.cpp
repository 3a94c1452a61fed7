#include "listsigner.h"

#include "listsignature.h"

#include <sodium.h>

ListKeyPair generateListKeyPair()
{
    QByteArray publicKey(static_cast<int>(crypto_sign_PUBLICKEYBYTES), '\0');
    QByteArray secretKey(static_cast<int>(crypto_sign_SECRETKEYBYTES), '\0');
    if (sodium_init() < 0)
        return {};
    crypto_sign_keypair(reinterpret_cast<unsigned char *>(publicKey.data()),
                        reinterpret_cast<unsigned char *>(secretKey.data()));
    ListKeyPair pair{publicKey.toBase64(), secretKey.toBase64()};
    sodium_memzero(secretKey.data(), static_cast<size_t>(secretKey.size()));
    return pair;
}

std::optional<QByteArray> signUpdateList(const QByteArray &secretKeyBase64, const QByteArray &list,
                                         quint64 serial, const QDateTime &expires)
{
    QByteArray::FromBase64Result secretKey =
        QByteArray::fromBase64Encoding(secretKeyBase64.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (sodium_init() < 0 || !secretKey ||
        secretKey.decoded.size() != static_cast<int>(crypto_sign_SECRETKEYBYTES))
        return std::nullopt;

    // Whole seconds, as the file spells them.
    const QDateTime expiry = QDateTime::fromSecsSinceEpoch(expires.toSecsSinceEpoch(), Qt::UTC);
    const QByteArray header = "serial " + QByteArray::number(serial) + "\nexpires " +
                              expiry.toString(Qt::ISODate).toLatin1() + '\n';
    const QByteArray message = signedListMessage(header, list);
    QByteArray signature(static_cast<int>(crypto_sign_BYTES), '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(message.constData()),
                         static_cast<unsigned long long>(message.size()),
                         reinterpret_cast<const unsigned char *>(secretKey.decoded.constData()));
    sodium_memzero(secretKey.decoded.data(), static_cast<size_t>(secretKey.decoded.size()));
    return header + "signature " + signature.toBase64() + '\n';
}
