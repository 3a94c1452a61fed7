#pragma once

#include "chunks/chunkdeltas.h"
#include "chunks/chunklocations.h"
#include "transfer/contentcheck.h"
#include "transfer/transferpolicy.h"

#include <QByteArray>

#include <memory>
#include <vector>

// What comes before files are built from chunks: their indexes, fetched side by
// side and checked against the list, and where the chunks they need already lie,
// found in one pass over the player's files on a thread of its own, so that each
// file is read once however many files take chunks from it. Where a target's
// older version lies on disk and the release splits its index into pages, the
// version is cut first and only the pages it does not hold are fetched. A
// version the launcher put in place is not read for its cut: its record is
// taken, while the file is as it was then.
//
// A build cut short (a closed window, a power cut) left its partial file: it is
// kept beside the target as one more place to take chunks from.
class ChunkSurvey
{
public:
    struct Target {
        QByteArray localPath;
        ContentCheck expected;
    };

    // bases are the release's base addresses, the first and its mirrors;
    // otherSources are more files to take chunks from (the server's other
    // installed files).
    ChunkSurvey(const std::vector<QByteArray> &bases, std::vector<Target> targets,
                std::vector<QByteArray> otherSources, TransferPolicy policy);
    ~ChunkSurvey();
    ChunkSurvey(const ChunkSurvey &) = delete;
    ChunkSurvey &operator=(const ChunkSurvey &) = delete;

    // Works for at most about waitMs; false once the survey is done or cancelled.
    bool run(int waitMs);
    // Ends the survey at its next slice, for a run that stops.
    void cancel();
    bool wasCancelled() const;

    // Null when the target's index was missing or damaged.
    const ChunkIndex *index(std::size_t target) const;
    // Null when the release has none for the target, or they were missing or damaged.
    const ChunkDeltas *deltas(std::size_t target) const;
    // The target already is the new version: it is cut into its index's chunks.
    bool alreadyThere(std::size_t target) const;
    // Chunks pay for a target when at least an eighth of it lies on disk, recurs
    // in it, or comes with a target before it: for less, one stream of the whole
    // file is faster than thousands of chunk requests, for few more bytes.
    bool worthBuilding(std::size_t target) const;
    // A target worth building takes chunks from this one, which must therefore be
    // complete first, even if it comes whole.
    bool isProvider(std::size_t target) const;
    ChunkLocations &locations();
    qint64 bytesReceived() const;

    // Where the partial file of an interrupted build of localPath is kept.
    static QByteArray leftoverSource(const QByteArray &localPath);

private:
    struct Work;
    std::unique_ptr<Work> work;
};
