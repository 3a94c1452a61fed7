#pragma once

#include <QByteArray>
#include <QtGlobal>

// Builds the new version of a file beside it from what the player has and a few
// requests, instead of fetching the whole file. The result is a complete,
// checked partial file, waiting to be put in place like any download. Anything
// wrong ends in Unavailable, with the reason, and the caller fetches the whole
// file. Like the transfer engine it works in slices on the caller's thread.
class FilePatch
{
public:
    enum class Result { Working, Built, Unavailable, Cancelled };

    virtual ~FilePatch() = default;

    // Works for at most about waitMs; the result once it is no longer Working.
    virtual Result run(int waitMs) = 0;
    // Ends the build at its next slice as Cancelled, keeping what it wrote.
    virtual void cancel() = 0;
    virtual const QByteArray &reason() const = 0;
    virtual qint64 bytesReceived() const = 0;
    virtual qint64 bytesWritten() const = 0;
};
