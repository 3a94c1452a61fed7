#pragma once

#include <QtGlobal>

// A cap on the bytes a run receives per second: a bucket that fills at the
// limit and holds at most a tenth of a second's worth, so that a pause in the
// transfers is not followed by a burst. A receipt may overdraw it; nothing more
// is taken until it has filled above empty again. Time is the caller's, in
// milliseconds, so that the arithmetic can be tried against any clock.
class RateLimiter
{
public:
    // 0: no limit.
    explicit RateLimiter(qint64 bytesPerSecond = 0);

    bool limits() const { return rate > 0; }
    // Whether bytes may be taken at nowMs.
    bool mayReceive(qint64 nowMs);
    void received(qint64 bytes) { available -= double(bytes); }
    // How long after nowMs bytes may be taken again (0: at once).
    qint64 waitMs(qint64 nowMs);
    // The most a transfer should be handed at once under this limit.
    long largestRead(long unlimited) const;

private:
    void refill(qint64 nowMs);

    qint64 rate;
    double available;
    qint64 lastMs = -1;
};
