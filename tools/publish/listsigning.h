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

// What is wrong with listPath + ".sig" under the public key in publicKeyPath, one
// line each; empty when launchers built with that key take the list now.
QStringList checkListSignature(const QString &listPath, const QString &publicKeyPath);
