#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>

#include <optional>

// The operator's keys and signatures for update lists; launchers only verify.
// Keys travel as base64 text: 32 bytes for a public key, 64 for a secret key.
struct ListKeyPair {
    QByteArray publicKey;
    QByteArray secretKey;
};

// A fresh key pair; empty when libsodium cannot start.
ListKeyPair generateListKeyPair();

// The signature file for a list; nothing when the secret key is not a base64
// Ed25519 secret key.
std::optional<QByteArray> signUpdateList(const QByteArray &secretKeyBase64, const QByteArray &list,
                                         quint64 serial, const QDateTime &expires);

// The key document allowing listKeys (base64 public keys), signed with the
// offline root key; nothing when that is not a base64 Ed25519 secret key.
std::optional<QByteArray> signListKeys(const QByteArray &rootSecretKeyBase64, const QByteArrayList &listKeys,
                                       quint64 serial, const QDateTime &expires);
