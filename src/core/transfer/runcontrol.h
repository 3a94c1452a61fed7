#pragma once

#include "transfer/ratelimiter.h"

#include <QtGlobal>

// What the player decides while a run goes on: a pause, and the most bytes the
// launcher receives per second. Every engine of a run shares one, through the
// run's policy, and looks at it on each slice of its work, so a pause or a new
// limit reaches whatever part of the run is fetching.
class RunControl
{
public:
    void pause(bool paused) { pausedByPlayer = paused; }
    bool isPaused() const { return pausedByPlayer; }

    // 0: no limit.
    void limitSpeed(qint64 bytesPerSecond) { sharedLimiter = RateLimiter(bytesPerSecond); }
    RateLimiter &limiter() { return sharedLimiter; }

private:
    bool pausedByPlayer = false;
    RateLimiter sharedLimiter;
};
