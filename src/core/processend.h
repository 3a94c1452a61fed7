#pragma once

#include <functional>

// How the process ends after a hand-over to a new launcher build. Production calls
// exit(); tests replace it to observe the status and carry on.
using ProcessEnd = std::function<void(int status)>;

// Installs a replacement and returns the previous one; an empty one restores exit().
ProcessEnd setProcessEnd(ProcessEnd replacement);

// Ends the process with the status, unless a test replaced the ending.
void endProcess(int status);
