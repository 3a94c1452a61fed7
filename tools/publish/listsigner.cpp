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

namespace {

// The base64 Ed25519 signature of message; nothing when the secret key is not a
// base64 Ed25519 secret key.
std::optional<QByteArray> signMessage(const QByteArray &secretKeyBase64, const QByteArray &message)
{
    QByteArray::FromBase64Result secretKey =
        QByteArray::fromBase64Encoding(secretKeyBase64.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (sodium_init() < 0 || !secretKey ||
        secretKey.decoded.size() != static_cast<int>(crypto_sign_SECRETKEYBYTES))
        return std::nullopt;
    QByteArray signature(static_cast<int>(crypto_sign_BYTES), '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char *>(message.constData()),
                         static_cast<unsigned long long>(message.size()),
                         reinterpret_cast<const unsigned char *>(secretKey.decoded.constData()));
    sodium_memzero(secretKey.decoded.data(), static_cast<size_t>(secretKey.decoded.size()));
    return signature.toBase64();
}

// "serial N\nexpires TIME\n", in whole seconds, as the files spell them.
QByteArray serialAndExpiry(quint64 serial, const QDateTime &expires)
{
    const QDateTime expiry = QDateTime::fromSecsSinceEpoch(expires.toSecsSinceEpoch(), Qt::UTC);
    return "serial " + QByteArray::number(serial) + "\nexpires " + expiry.toString(Qt::ISODate).toLatin1() +
           '\n';
}

} // namespace

std::optional<QByteArray> signUpdateList(const QByteArray &secretKeyBase64, const QByteArray &list,
                                         quint64 serial, const QDateTime &expires)
{
    const QByteArray header = serialAndExpiry(serial, expires);
    const std::optional<QByteArray> signature = signMessage(secretKeyBase64, signedListMessage(header, list));
    return signature ? std::optional<QByteArray>(header + "signature " + *signature + '\n') : std::nullopt;
}

std::optional<QByteArray> signListKeys(const QByteArray &rootSecretKeyBase64, const QByteArrayList &listKeys,
                                       quint64 serial, const QDateTime &expires)
{
    QByteArray body = serialAndExpiry(serial, expires);
    for (const QByteArray &key : listKeys)
        body += "key " + key.trimmed() + '\n';
    const std::optional<QByteArray> signature = signMessage(rootSecretKeyBase64, signedListKeysMessage(body));
    return signature ? std::optional<QByteArray>(body + "signature " + *signature + '\n') : std::nullopt;
}
