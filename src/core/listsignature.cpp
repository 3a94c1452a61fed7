#include "listsignature.h"

#include <QList>

#include <algorithm>
#include <vector>

#include <sodium.h>

namespace {

// Ties a signature to its purpose: a signature over anything else the operator's
// key may ever sign can never pass for a list's.
const QByteArray signedPrefix = QByteArrayLiteral("launcher update list v1\n");
const QByteArray keysPrefix = QByteArrayLiteral("launcher list keys v1\n");

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

bool signedByAny(const std::vector<QByteArray> &publicKeys, const QByteArray &signature,
                 const QByteArray &message)
{
    return std::any_of(publicKeys.begin(), publicKeys.end(), [&](const QByteArray &publicKey) {
        return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                           reinterpret_cast<const unsigned char *>(message.constData()),
                                           static_cast<unsigned long long>(message.size()),
                                           reinterpret_cast<const unsigned char *>(publicKey.constData())) ==
               0;
    });
}

// The serial, the order of the checks and their answers are those of a list.
ListVerdict judge(bool signedRight, quint64 serial, std::optional<quint64> lastAcceptedSerial,
                  const QDateTime &expires, const QDateTime &now)
{
    if (!signedRight)
        return ListVerdict::BadSignature;
    // Checked only after the signature, so that the answer never depends on
    // values an attacker could have chosen.
    if (lastAcceptedSerial && serial < *lastAcceptedSerial)
        return ListVerdict::Rollback;
    if (expires <= now)
        return ListVerdict::Expired;
    return ListVerdict::Accepted;
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

    const ListVerdict verdict =
        judge(signedByAny(*publicKeys, signature->signature, signedListMessage(signature->header, list)),
              signature->serial, lastAcceptedSerial, signature->expires, now);
    if (verdict == ListVerdict::Accepted && acceptedSerial)
        *acceptedSerial = signature->serial;
    return verdict;
}

QByteArray signedListKeysMessage(const QByteArray &body)
{
    return keysPrefix + body;
}

ListVerdict verifyListKeys(const QByteArray &rootKeysBase64, const QByteArray &document,
                           std::optional<quint64> lastAcceptedSerial, const QDateTime &now, quint64 *serial,
                           QByteArray *listKeys)
{
    QList<QByteArray> lines = document.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    const std::optional<std::vector<QByteArray>> rootKeys = decodePublicKeys(rootKeysBase64);
    if (!sodiumReady() || !rootKeys || document.size() > maximumListKeysSize || lines.size() < 4 ||
        lines.size() > 3 + maximumListKeys || !lines.at(0).startsWith("serial ") ||
        !lines.at(1).startsWith("expires ") || !lines.last().startsWith("signature "))
        return ListVerdict::BadSignature;
    const std::optional<quint64> documentSerial = parseSerial(lines.at(0).mid(7));
    const std::optional<QDateTime> expires = parseExpiry(lines.at(1).mid(8));
    const std::optional<QByteArray> signature =
        decodeBase64(lines.last().mid(10), static_cast<int>(crypto_sign_BYTES));
    QByteArray body = lines.at(0) + '\n' + lines.at(1) + '\n', keys;
    for (int at = 2; at < lines.size() - 1; ++at) {
        const QByteArray &line = lines.at(at);
        if (!line.startsWith("key ") ||
            !decodeBase64(line.mid(4), static_cast<int>(crypto_sign_PUBLICKEYBYTES)))
            return ListVerdict::BadSignature;
        body += line + '\n';
        keys += (keys.isEmpty() ? "" : " ") + line.mid(4);
    }
    if (!documentSerial || !expires || !signature)
        return ListVerdict::BadSignature;
    const ListVerdict verdict = judge(signedByAny(*rootKeys, *signature, signedListKeysMessage(body)),
                                      *documentSerial, lastAcceptedSerial, *expires, now);
    if (verdict == ListVerdict::Accepted) {
        *serial = *documentSerial;
        *listKeys = keys;
    }
    return verdict;
}
