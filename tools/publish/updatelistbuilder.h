#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The update list of a release folder (clientes/, imagens/, launcher/ and
// release.conf) served below baseUrl. Every file's version is taken from its
// content, so a changed file is due and an unchanged one never is.
std::optional<QByteArray> buildUpdateList(const QString &releaseFolder, const QByteArray &baseUrl,
                                          QString &error);

// A short version label for a file: the start of its content's SHA-256.
std::optional<QByteArray> contentVersion(const QString &path);
