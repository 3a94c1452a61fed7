#pragma once

#include <QByteArray>
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
