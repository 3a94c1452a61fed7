#include "listsignature.h"

#include <QList>

#include <algorithm>
#include <vector>

#include <sodium.h>

namespace {

// Ties a signature to its purpose: a signature over anything else the operator's
// key may ever sign can never pass for a list's.
const QByteArray signedPrefix = QByteArrayLiteral("launcher update list v1\n");

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::optional<QByteArray> decodeBase64(const QByteArray &text, int expectedSize)
{
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != expectedSize)
        return std::nullopt;
    return decoded.decoded;
}

// One mistyped key refuses everything, so that a broken build shows at its first
// start rather than after the other key is retired.
std::optional<std::vector<QByteArray>> decodePublicKeys(const QByteArray &text)
{
    std::vector<QByteArray> keys;
    for (const QByteArray &word : text.simplified().split(' ')) {
        std::optional<QByteArray> key = decodeBase64(word, static_cast<int>(crypto_sign_PUBLICKEYBYTES));
        if (!key)
            return std::nullopt;
        keys.push_back(std::move(*key));
    }
    return keys;
}

// "expires 2027-01-05T00:00:00Z": seconds and the UTC mark are required, so that
// one instant has one spelling.
std::optional<QDateTime> parseExpiry(const QByteArray &text)
{
    if (text.size() != 20 || !text.endsWith('Z'))
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    if (!time.isValid() || time.timeSpec() != Qt::UTC)
        return std::nullopt;
    return time;
}

std::optional<quint64> parseSerial(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > 20)
        return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    bool ok = false;
    const quint64 serial = text.toULongLong(&ok);
    return ok ? std::optional<quint64>(serial) : std::nullopt;
}

} // namespace

QByteArray signedListMessage(const QByteArray &header, const QByteArray &list)
{
    return signedPrefix + header + list;
}

std::optional<ListSignature> parseListSignature(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (lines.size() == 4 && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() != 3 || !lines.at(0).startsWith("serial ") || !lines.at(1).startsWith("expires ") ||
        !lines.at(2).startsWith("signature "))
        return std::nullopt;

    const std::optional<quint64> serial = parseSerial(lines.at(0).mid(7));
    const std::optional<QDateTime> expires = parseExpiry(lines.at(1).mid(8));
    const std::optional<QByteArray> signature =
        decodeBase64(lines.at(2).mid(10), static_cast<int>(crypto_sign_BYTES));
    if (!serial || !expires || !signature)
        return std::nullopt;
    return ListSignature{*serial, *expires, *signature, lines.at(0) + '\n' + lines.at(1) + '\n'};
}

ListVerdict verifyUpdateList(const QByteArray &publicKeysBase64, const QByteArray &list,
                             const QByteArray &signatureFile, std::optional<quint64> lastAcceptedSerial,
                             const QDateTime &now, quint64 *acceptedSerial)
{
    const std::optional<ListSignature> signature = parseListSignature(signatureFile);
    const std::optional<std::vector<QByteArray>> publicKeys = decodePublicKeys(publicKeysBase64);
    if (!sodiumReady() || !publicKeys || !signature)
        return ListVerdict::BadSignature;

    const QByteArray message = signedListMessage(signature->header, list);
    const auto signedBy = [&](const QByteArray &publicKey) {
        return crypto_sign_verify_detached(
                   reinterpret_cast<const unsigned char *>(signature->signature.constData()),
                   reinterpret_cast<const unsigned char *>(message.constData()),
                   static_cast<unsigned long long>(message.size()),
                   reinterpret_cast<const unsigned char *>(publicKey.constData())) == 0;
    };
    if (std::none_of(publicKeys->begin(), publicKeys->end(), signedBy))
        return ListVerdict::BadSignature;
    // Checked only after the signature, so that the answer never depends on
    // values an attacker could have chosen.
    if (lastAcceptedSerial && signature->serial < *lastAcceptedSerial)
        return ListVerdict::Rollback;
    if (signature->expires <= now)
        return ListVerdict::Expired;
    if (acceptedSerial)
        *acceptedSerial = signature->serial;
    return ListVerdict::Accepted;
}
