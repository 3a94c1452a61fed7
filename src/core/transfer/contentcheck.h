#pragma once

#include <QByteArray>
#include <QtGlobal>

// What the update list may say of a file's content, so that a corrupted or
// altered download is never installed: its size in bytes and its SHA-256 in
// lower-case hex. Empty when the list does not say.
struct ContentCheck {
    QByteArray size;
    QByteArray sha256;
    // The SHA-256 of the file's chunk index, where the release publishes the file
    // in chunks as well: an update then fetches only the chunks it lacks.
    QByteArray chunkIndexSha256{};
    // The SHA-256 of the deltas of its changed chunks against the release before,
    // where the release publishes them.
    QByteArray chunkDeltasSha256{};
    // Where the release publishes a delta of the file against its version before:
    // that version's SHA-256, and the delta's size in bytes.
    QByteArray deltaFrom{};
    QByteArray deltaSize{};
    // The SHA-256 of the list of its index's pages, where the release splits a
    // large index: an update then fetches only the pages it does not have.
    QByteArray chunkPagesSha256{};
    // Where the release also stores the file in a pack with other small files, so
    // that a first install takes a few large requests instead of thousands: the
    // pack's SHA-256 (its name) and size, and the file's offset in it.
    QByteArray packSha256{};
    QByteArray packOffset{};
    QByteArray packSize{};
    // Where the release stores what an update of a file in chunks from its
    // version before fetches, in one pack: the pack's SHA-256 and size.
    QByteArray chunkPackSha256{};
    QByteArray chunkPackSize{};

    // A size that a file can have: decimal digits, at most 2^53 (what any reader
    // of the list takes exactly). An entry with another size is refused like a
    // name that leaves its folder.
    bool hasUsableSize() const;
    // The size, or 0 where the list gives none or an unusable one.
    qint64 bytes() const;
};

// total plus the file's bytes, held below 2^62 so that no sum of a list's sizes
// overflows.
qint64 addBytes(qint64 total, const ContentCheck &check);
