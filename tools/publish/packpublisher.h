#pragma once

#include "state/launcherstate.h"

#include <QString>

#include <map>
#include <set>

// Stores the server's files below the chunked size side by side in packs of the
// release's packs/ folder (in name order, the order a launcher installs them)
// and names each file's pack in its check. False, with error, when a file could
// not be read or a pack not stored.
bool publishPacks(const QString &releaseFolder, std::map<QByteArray, FileEntry> &files, QString &error);

// Empty when the release holds the pack check names, of its size and
// SHA-256 (looked at once for all files: checkedPacks), and the file at its
// offset; otherwise what is wrong.
QString verifyPack(const QString &releaseFolder, const ContentCheck &check,
                   std::set<QByteArray> &checkedPacks);
