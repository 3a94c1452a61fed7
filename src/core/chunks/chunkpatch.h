#pragma once

#include "chunks/chunkdeltas.h"
#include "chunks/chunklocations.h"
#include "chunks/filepatch.h"
#include "transfer/contentcheck.h"
#include "transfer/transferpolicy.h"

#include <QByteArray>

#include <memory>

// Builds the new version of a file from its chunk index: every chunk that lies
// on disk already is copied from there, and only the others are fetched, several
// at once; a changed chunk comes as its delta where the release has one against
// a chunk on disk (and as it is, when the delta does not make it). A chunk
// missing or damaged, or a file that does not come out as the list says, ends in
// Unavailable.
class ChunkPatch : public FilePatch
{
public:
    // bases are the release's base addresses, the first and its mirrors;
    // localPath is the target. index, locations and deltas (if any) must
    // outlive the patch.
    ChunkPatch(const std::vector<QByteArray> &bases, const QByteArray &localPath,
               const ContentCheck &expected, const ChunkIndex &index, const ChunkLocations &locations,
               TransferPolicy policy, const ChunkDeltas *deltas = nullptr);
    ~ChunkPatch() override;
    ChunkPatch(const ChunkPatch &) = delete;
    ChunkPatch &operator=(const ChunkPatch &) = delete;

    Result run(int waitMs) override;
    void cancel() override;
    const QByteArray &reason() const override;
    qint64 bytesReceived() const override;
    qint64 bytesWritten() const override;

private:
    struct Work;
    std::unique_ptr<Work> work;
};
