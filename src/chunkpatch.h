#pragma once

#include "chunkindex.h"
#include "launcherstate.h"

#include <QByteArray>

#include <memory>
#include <vector>

// Builds the new version of a file from its chunk index: every chunk the player
// already has (in the old file, in what an interrupted patch left, or in another
// installed file) is copied from disk, and only the others are fetched, several
// at once. The result is a complete, checked partial file beside the target,
// waiting to be put in place like any download. Anything wrong (an index or a
// chunk missing or damaged, a file that does not come out as the list says)
// ends in Unavailable, with the reason, and the caller fetches the whole file.
//
// Like the transfer engine it works in slices on the caller's thread; only the
// reading of the old files runs on a thread of its own.
class ChunkPatch
{
public:
    enum class Result { Working, Built, AlreadyThere, Unavailable, Cancelled };

    // chunkBaseUrl is the release's base address; localPath the target;
    // otherSources more files to take chunks from.
    ChunkPatch(const QByteArray &chunkBaseUrl, const QByteArray &localPath, const ContentCheck &expected,
               std::vector<QByteArray> otherSources = {});
    ~ChunkPatch();
    ChunkPatch(const ChunkPatch &) = delete;
    ChunkPatch &operator=(const ChunkPatch &) = delete;

    // Works for at most about waitMs; the result once it is no longer Working.
    Result run(int waitMs);

    const QByteArray &reason() const;
    qint64 bytesReceived() const;
    qint64 bytesWritten() const;
    qint64 fileSize() const;

    // The files an earlier patch of localPath may have left to take chunks from.
    static QByteArray leftoverSource(const QByteArray &localPath);

private:
    struct Work;
    std::unique_ptr<Work> work;
};
