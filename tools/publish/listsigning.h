#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// The operator's half of the signed update list: key files and signature files.
// Failures come back as a sentence for the operator in error.

// Writes a new key pair: the secret key to secretKeyPath, readable by its owner
// alone, and the public key to publicKeyPath. Existing files are never replaced.
bool writeListKeyPair(const QString &secretKeyPath, const QString &publicKeyPath, QString &error);

// Writes listPath + ".sig". Refused: a list with findings for a signed list, and
// a serial below that of the signature already there, as launchers that took the
// newer one would refuse the list.
bool signListFile(const QString &listPath, const QString &secretKeyPath, quint64 serial,
                  const QDateTime &expires, QString &error);

// Writes listPath + ".keys": the key document allowing the list keys in
// publicKeyPaths, signed with the root key. Refused like a signature: a serial
// below that of the key document already there, an expiry past.
bool writeListKeys(const QString &listPath, const QString &rootSecretKeyPath,
                   const QStringList &publicKeyPaths, quint64 serial, const QDateTime &expires,
                   QString &error);

// What is wrong with listPath + ".sig" under the public key in publicKeyPath, one
// line each; empty when launchers built with that key take the list now. With
// rootKey, publicKeyPath is the root's, and the list's keys are those of the key
// document listPath + ".keys", which must hold.
QStringList checkListSignature(const QString &listPath, const QString &publicKeyPath, bool rootKey = false);
