#include "transfer/unreachableorigins.h"

#include <mutex>
#include <set>

namespace {

// "scheme://host:port" of an address.
QByteArray originOf(const QByteArray &url)
{
    const int host = url.indexOf("://");
    const int path = host < 0 ? -1 : url.indexOf('/', host + 3);
    return path < 0 ? url : url.left(path);
}

struct UnreachableOrigins {
    std::mutex mutex;
    std::set<QByteArray> origins;
};

UnreachableOrigins &unreachableOrigins()
{
    static UnreachableOrigins unreachable;
    return unreachable;
}

} // namespace

bool isKnownUnreachable(const QByteArray &url)
{
    UnreachableOrigins &unreachable = unreachableOrigins();
    const std::lock_guard<std::mutex> lock(unreachable.mutex);
    return unreachable.origins.count(originOf(url)) > 0;
}

void rememberUnreachable(const QByteArray &url)
{
    UnreachableOrigins &unreachable = unreachableOrigins();
    const std::lock_guard<std::mutex> lock(unreachable.mutex);
    unreachable.origins.insert(originOf(url));
}

void forgetUnreachableAddresses()
{
    UnreachableOrigins &unreachable = unreachableOrigins();
    const std::lock_guard<std::mutex> lock(unreachable.mutex);
    unreachable.origins.clear();
}
