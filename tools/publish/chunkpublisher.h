#pragma once

#include "transfer/contentcheck.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Files from this size on are published in chunks as well as whole.
constexpr qint64 chunkedFileThreshold = 1 << 20;

// Stores bytes at path in the release (creating its folder) unless a file is
// there already: every file of chunks/, deltas/ and packs/ is named by its
// content, so one there is the same bytes. It is written beside its place and
// renamed into it, so that a server never serves half of it.
bool storeOnce(const QString &path, const QByteArray &bytes);

// What the update list names of a file published in chunks: its index, the
// deltas of its changed chunks, its index's pages, and the pack of an update
// from its version before (empty where there are none).
struct PublishedChunks {
    QByteArray indexSha256;
    QByteArray deltasSha256;
    QByteArray pagesSha256;
    QByteArray packSha256;
    QByteArray packSize;
};

// Cuts a file of the release into content-defined chunks and stores each one the
// release's chunks/ folder does not hold yet (chunks shared by files and by
// releases are stored once), then the file's index, and its pages where it has
// more than one. With previousFile (its
// version in the release before), each new chunk also gets a delta against the
// chunk that stood at its place there, where that is much smaller than the chunk,
// and the chunks that version lacks are packed for an update from it.
std::optional<PublishedChunks> publishInChunks(const QString &releaseFolder, const QString &file,
                                               QString &error, const QString &previousFile = QString());

// Empty when the release holds the index check names and every chunk it lists,
// and the chunks put together are the file of its size and SHA-256, and holds
// the index's pages (if any), which are the index, the chunk deltas (if any),
// each of its size, and the update's pack (if any), whose pieces make chunks of
// the index; otherwise what is wrong.
QString verifyChunks(const QString &releaseFolder, const ContentCheck &check);

// Where the previous release (another release folder) holds the same file of a
// size that takes a delta, with other bytes: the delta of the file against it,
// stored below the release's deltas/ and named in check, when it is much smaller
// than the file. False only when it could not be stored.
bool publishDelta(const QString &releaseFolder, const QString &previousFolder, const QString &file,
                  ContentCheck &check, QString &error);

// Empty when the release holds the delta check names, of its size; otherwise
// what is wrong. (Whether it makes the file takes the previous release.)
QString verifyDelta(const QString &releaseFolder, const ContentCheck &check);
