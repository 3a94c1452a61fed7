#include "platform.h"

#include "systemplatform.h"

namespace {

Platform *&installedPlatform()
{
    static Platform *replacement = nullptr;
    return replacement;
}

} // namespace

Platform &platform()
{
    if (installedPlatform())
        return *installedPlatform();
    static SystemPlatform system;
    return system;
}

Platform *setPlatform(Platform *replacement)
{
    Platform *previous = installedPlatform();
    installedPlatform() = replacement;
    return previous;
}
