#include "processend.h"

#include <cstdlib>

namespace {

ProcessEnd &installedProcessEnd()
{
    static ProcessEnd processEnd;
    return processEnd;
}

} // namespace

ProcessEnd setProcessEnd(ProcessEnd replacement)
{
    ProcessEnd previous = std::move(installedProcessEnd());
    installedProcessEnd() = std::move(replacement);
    return previous;
}

void endProcess(int status)
{
    if (installedProcessEnd())
        installedProcessEnd()(status);
    else
        std::exit(status);
}
