#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The update list of a release folder (clientes/, imagens/, launcher/ and
// release.conf) served below baseUrl. Every file's version is taken from its
// content, so a changed file is due and an unchanged one never is, and every file
// carries its size and SHA-256, so a corrupted download is never installed.
// mirrors are more base addresses serving copies of the same folder. With a
// previousRelease folder, a small file that changed since gets a delta against
// its version there.
std::optional<QByteArray> buildUpdateList(const QString &releaseFolder, const QByteArray &baseUrl,
                                          QString &error, const std::vector<QByteArray> &mirrors = {},
                                          const QString &previousRelease = QString());

#include "state/launcherstate.h"

// The size and SHA-256 of a file, as the update list states them.
std::optional<ContentCheck> contentCheck(const QString &path);

// True when the file, through a link on its way, is not in the release folder:
// publishing it would hand players a file of the operator's machine (a key).
bool leadsOutsideRelease(const QString &releaseFolder, const QString &file);
