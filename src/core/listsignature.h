#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QtGlobal>

#include <optional>

// The detached signature of an update list, published beside it as the list's
// name + ".sig". It is a short text:
//
//   serial 1765000000
//   expires 2027-01-05T00:00:00Z
//   signature <Ed25519 signature, base64>
//
// The signature covers a fixed prefix, the serial and expires lines exactly as
// written, and then the list's bytes, so neither the list nor its serial or
// expiry can be changed without the private key.
struct ListSignature {
    quint64 serial = 0;
    QDateTime expires; // UTC
    QByteArray signature;
    QByteArray header; // the serial and expires lines, as signed
};

enum class ListVerdict {
    Accepted,
    BadSignature, // missing, malformed, made with another key, or the list was altered
    Rollback,     // a lower serial than the newest list this launcher accepted
    Expired,      // the operator stopped vouching for this list
};

// What a signature covers: a fixed prefix, the header, the list. Public keys
// travel as base64 text of their 32 bytes. The operator's side (keys, signing)
// lives in launcher-publish alone.
QByteArray signedListMessage(const QByteArray &header, const QByteArray &list);

// Reads a signature file; nothing when it is not exactly in the layout above.
std::optional<ListSignature> parseListSignature(const QByteArray &text);

// Whether the list may be merged. publicKeysBase64 holds one key or, while the
// operator changes keys, several separated by spaces; a signature by any of them
// counts, and an unusable key refuses every list. lastAcceptedSerial is the
// highest serial this launcher accepted before, if any; a list with that same
// serial is accepted again, as every start fetches the current list anew.
ListVerdict verifyUpdateList(const QByteArray &publicKeysBase64, const QByteArray &list,
                             const QByteArray &signatureFile, std::optional<quint64> lastAcceptedSerial,
                             const QDateTime &now, quint64 *acceptedSerial = nullptr);

// The list keys that the operator's offline root key allows, published beside
// the list as the list's name + ".keys":
//
//   serial 3
//   expires 2027-06-01T00:00:00Z
//   key <Ed25519 public key, base64>
//   key ...
//   signature <the root key's Ed25519 signature, base64>
//
// The signature covers a fixed prefix and every line before it, exactly as
// written. A launcher built with the root's public key takes a list signed by
// any key of the newest key document it accepted: rotating a list key is a new
// key document, and a revoked key is one left out.
constexpr qint64 maximumListKeysSize = 16 * 1024;
constexpr int maximumListKeys = 16;

QByteArray signedListKeysMessage(const QByteArray &body);

// Whether the key document may be trusted, as verifyUpdateList tells of a list:
// signed by a root key, not older than the one this launcher accepted last, not
// expired. When accepted, its serial and its keys (base64, separated by spaces).
ListVerdict verifyListKeys(const QByteArray &rootKeysBase64, const QByteArray &document,
                           std::optional<quint64> lastAcceptedSerial, const QDateTime &now, quint64 *serial,
                           QByteArray *listKeys);
