#pragma once

#include "chunks/chunklocations.h"
#include "transfer/contentcheck.h"
#include "transfer/transferpolicy.h"

#include <QByteArray>

#include <memory>

// Builds the new version of a file from its chunk index: every chunk that lies
// on disk already is copied from there, and only the others are fetched, several
// at once. The result is a complete, checked partial file beside the target,
// waiting to be put in place like any download. Anything wrong (a chunk missing
// or damaged, a file that does not come out as the list says) ends in
// Unavailable, with the reason, and the caller fetches the whole file.
//
// Like the transfer engine it works in slices on the caller's thread.
class ChunkPatch
{
public:
    enum class Result { Working, Built, Unavailable, Cancelled };

    // bases are the release's base addresses, the first and its mirrors;
    // localPath is the target. index and locations must outlive the patch.
    ChunkPatch(const std::vector<QByteArray> &bases, const QByteArray &localPath,
               const ContentCheck &expected, const ChunkIndex &index, const ChunkLocations &locations,
               TransferPolicy policy);
    ~ChunkPatch();
    ChunkPatch(const ChunkPatch &) = delete;
    ChunkPatch &operator=(const ChunkPatch &) = delete;

    // Works for at most about waitMs; the result once it is no longer Working.
    Result run(int waitMs);

    // Ends the build at its next slice as Cancelled, keeping what it wrote.
    void cancel();
    const QByteArray &reason() const;
    qint64 bytesReceived() const;
    qint64 bytesWritten() const;

private:
    struct Work;
    std::unique_ptr<Work> work;
};
