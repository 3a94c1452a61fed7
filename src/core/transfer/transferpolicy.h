#pragma once

#include "transfer/runcontrol.h"

#include <QtGlobal>

#include <memory>

// How hard and how fast the transfers of one run work: a value handed to every
// engine of the run, so that a test or the player's settings can pass their own.
struct TransferPolicy {
    // Requests at once; times streamsPerConnection once the server multiplexes.
    int connections = 6;
    // Tries after the first, for transient faults.
    int maximumRetries = 3;
    // The pause before the first retry; it doubles for each further one.
    int retryPauseMs = 1000;
    // A transfer that receives less than a kilobyte per second for this long
    // fails with libcurl's time-out, rather than hanging.
    long stallTimeoutSeconds = 60;
    // A body kept in memory (the list, its signature, an index) must arrive
    // whole within this time.
    long memoryBodyTimeLimitSeconds = 60;
    // The player's pause and speed limit, shared by every copy of the policy:
    // all the engines of a run, and the runs that follow, obey one.
    std::shared_ptr<RunControl> control = std::make_shared<RunControl>();
    // A server that asks for a longer pause than this is treated as down.
    long retryAfterLimitSeconds = 30;

    static constexpr int streamsPerConnection = 8;
};
