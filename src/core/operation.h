#pragma once

#include "runresult.h"

#include <QtGlobal>

// How far a piece of work that fetches has come: the bytes its files hold, of
// how many, and the bytes received over the network, which only grow.
struct TransferProgress {
    qint64 stored;
    qint64 expectedTotal;
    qint64 received;
};

// Long work that fetches, run in slices on the caller's thread: one loop in the
// window drives any of them, shows its progress and reads its one result.
class Operation
{
public:
    virtual ~Operation() = default;

    // Works for at most about waitMs; false once the work has ended.
    virtual bool run(int waitMs) = 0;
    virtual TransferProgress progress() const = 0;
    // Stops the work; it ends within a few slices, keeping what a later run can
    // continue, with why as its ending.
    virtual void stop(RunResult::Ending why) = 0;
    // Once run() returned false.
    virtual RunResult result() const = 0;
};
