#pragma once

#include "transfer/contentcheck.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Files from this size on are published in chunks as well as whole.
constexpr qint64 chunkedFileThreshold = 1 << 20;

// Cuts a file of the release into content-defined chunks and stores each one the
// release's chunks/ folder does not hold yet (chunks shared by files and by
// releases are stored once), then the file's index. Returns the index's
// SHA-256, which the update list names.
std::optional<QByteArray> publishInChunks(const QString &releaseFolder, const QString &file, QString &error);

// Empty when the release holds the index named indexSha256 and every chunk it
// lists, and the chunks put together are the file of that size and SHA-256;
// otherwise what is wrong.
QString verifyChunks(const QString &releaseFolder, const QByteArray &indexSha256, const QByteArray &size,
                     const QByteArray &sha256);

// Where the previous release (another release folder) holds the same file of a
// size that takes a delta, with other bytes: the delta of the file against it,
// stored below the release's deltas/ and named in check, when it is much smaller
// than the file. False only when it could not be stored.
bool publishDelta(const QString &releaseFolder, const QString &previousFolder, const QString &file,
                  ContentCheck &check, QString &error);

// Empty when the release holds the delta check names, of its size; otherwise
// what is wrong. (Whether it makes the file takes the previous release.)
QString verifyDelta(const QString &releaseFolder, const ContentCheck &check);
