#include "transfer/contentcheck.h"

#include <algorithm>

namespace {

constexpr qint64 largestUsableSize = qint64(1) << 53;

} // namespace

bool ContentCheck::hasUsableSize() const
{
    if (size.isEmpty())
        return true;
    bool digits = size.size() <= 16 &&
                  std::all_of(size.begin(), size.end(), [](char c) { return c >= '0' && c <= '9'; });
    return digits && size.toLongLong() <= largestUsableSize;
}

qint64 ContentCheck::bytes() const
{
    return hasUsableSize() ? size.toLongLong() : 0;
}

qint64 addBytes(qint64 total, const ContentCheck &check)
{
    return std::min(total + check.bytes(), qint64(1) << 62);
}
