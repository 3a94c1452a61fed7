#pragma once

#include "chunks/filepatch.h"
#include "transfer/contentcheck.h"
#include "transfer/transferpolicy.h"

#include <QByteArray>

#include <memory>
#include <optional>
#include <vector>

// A small file that changed a little costs a few bytes: the release publishes
// its new version compressed against the version before it, which every player
// of that version has on disk. Both are read whole into memory, so only files
// up to this size have one.
constexpr qint64 largestDeltaFile = 1 << 20;

// "deltas/ab/FROM-TO", below the download base address and the release folder:
// named by both versions' SHA-256, so that a delta, once published, never changes.
QByteArray deltaPath(const QByteArray &fromSha256, const QByteArray &toSha256);
// updated as one zstd frame with previous as its dictionary, compressed at
// level; empty when it cannot be made.
QByteArray makeDelta(const QByteArray &previous, const QByteArray &updated, int level = 19);
// The bytes made by makeDelta, or nothing when delta is not a frame of size
// bytes made against previous.
std::optional<QByteArray> applyDelta(const QByteArray &previous, const QByteArray &delta, qint64 size);

// Whether the list offers the file's delta, for a target whose installed version
// may be the one it was made against.
bool offersDelta(const ContentCheck &expected);

// Builds a file's new version from its installed version and the delta the list
// names against it. An installed version other than the delta's (a player two
// releases behind), a delta missing or damaged, or a result other than the
// list's file ends in Unavailable.
class FileDelta : public FilePatch
{
public:
    FileDelta(const std::vector<QByteArray> &bases, const QByteArray &localPath, const ContentCheck &expected,
              TransferPolicy policy);
    ~FileDelta() override;
    FileDelta(const FileDelta &) = delete;
    FileDelta &operator=(const FileDelta &) = delete;

    Result run(int waitMs) override;
    void cancel() override;
    const QByteArray &reason() const override;
    qint64 bytesReceived() const override;
    qint64 bytesWritten() const override;

private:
    struct Work;
    std::unique_ptr<Work> work;
};
