#include "transfer/ratelimiter.h"

#include <algorithm>

RateLimiter::RateLimiter(qint64 bytesPerSecond) : rate(std::max<qint64>(bytesPerSecond, 0)), available(0) {}

void RateLimiter::refill(qint64 nowMs)
{
    const double fullBucket = double(rate) / 10;
    if (lastMs < 0)
        available = fullBucket;
    else if (nowMs > lastMs)
        available = std::min(fullBucket, available + double(rate) * double(nowMs - lastMs) / 1000);
    lastMs = std::max(lastMs, nowMs);
}

bool RateLimiter::mayReceive(qint64 nowMs)
{
    if (!limits())
        return true;
    refill(nowMs);
    return available > 0;
}

qint64 RateLimiter::waitMs(qint64 nowMs)
{
    if (mayReceive(nowMs))
        return 0;
    return qint64(-available * 1000 / double(rate)) + 1;
}

long RateLimiter::largestRead(long unlimited) const
{
    // A sixteenth of a second's worth, so that one read overdraws the bucket
    // by little; libcurl takes no less than 16 KiB.
    return limits() ? long(std::min<qint64>(unlimited, std::max<qint64>(rate / 16, 16 * 1024))) : unlimited;
}
