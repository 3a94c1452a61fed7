#pragma once

#include "transfer/contentcheck.h"

#include <QByteArray>

// Small files of a release stored side by side in packs of a few megabytes,
// besides each on its own: a first install of thousands of small files then
// takes a few dozen requests. A pack is named by its SHA-256 and never
// rewritten, so caches and mirrors keep serving it; a pack ends after a file
// whose SHA-256 says so, so a release that changes a file makes a new pack for
// that file's neighbourhood only.
//
// A launcher fetches a whole pack where most of it is files it lacks, and the
// files themselves otherwise: no range requests, which not every server takes.

// The largest pack a launcher fetches.
constexpr qint64 largestPack = 16 << 20;

// "packs/ab/abcdef....pack", below the download base address and the release folder.
QByteArray packPath(const QByteArray &packSha256);

// Where a launcher downloads a pack until its files are taken out: in the folder
// they go to, so that they are written on the same disk.
QByteArray packDownloadPath(const QByteArray &targetFolder, const QByteArray &packSha256);

// The list places the file in a pack a launcher may fetch: the pack's SHA-256,
// a size of at most largestPack, and an offset that leaves room for the file.
bool offersPack(const ContentCheck &check);

// Writes the file that check places in the pack at packFile as a complete
// partial file beside targetPath (for PartialFile::commitFinished), when the
// pack's bytes there are the file's; otherwise false, and nothing is left.
bool placeBesideTarget(const QByteArray &packFile, const ContentCheck &check, const QByteArray &targetPath);
