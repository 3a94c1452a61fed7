#pragma once

#include "fetchplan.h"
#include "operation.h"
#include "transfer/transferpolicy.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <vector>

// Runs a fetch plan: fetches its items side by side and puts them in place one
// after the other, in their order: item k replaces its target, and onCommitted(k) runs, only after
// items 0..k-1 did. The first item that fails ends the run; the items after it
// are not put in place, and their partial files that can be continued stay for
// the next run.
//
// A name that would reach outside its folder, or that a file stored in the game
// folder itself would share with the launcher's own files, fails in its turn
// before any request for it is made. A file already there with the list's size
// and SHA-256 is committed without a transfer.
//
// A file published in chunks is built from the chunks found in its older
// version, in what an interrupted build left, in chunkSources (the server's
// other installed files) and in the items before it, and only the rest is
// fetched.
//
// Like the transfer engine it works in slices on the caller's thread, and shows
// nothing: the caller shows progress() and, at the end, what result() means.
class FileFetch : public Operation
{
public:
    FileFetch(const FetchPlan &plan, TransferPolicy policy);
    ~FileFetch() override;
    FileFetch(const FileFetch &) = delete;
    FileFetch &operator=(const FileFetch &) = delete;

    bool run(int waitMs) override;
    TransferProgress progress() const override;
    void stop(RunResult::Ending why) override;
    // Succeeded once every item is in place; otherwise committed is the index of
    // the item that failed.
    RunResult result() const override;

private:
    struct Work;
    std::unique_ptr<Work> work;
};
