#pragma once

#include "transfer/contentcheck.h"
#include "transfer/transferengine.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <vector>

// A file of a folder of the update server ("clientes/", "imagens/", "launcher/")
// and where it goes.
struct FetchItem {
    QByteArray name;
    QByteArray localPath;
    ContentCheck expected;
};

// Fetches the items side by side and puts them in place one after the other, in
// their order: item k replaces its target, and onCommitted(k) runs, only after
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
// nothing: the caller shows progress() and, at the end, what the ending means.
class FileFetch
{
public:
    enum class Ending { Working, Committed, RefusedName, TransferFailed, CommitFailed, Cancelled };

    // bases: the list's download path, then its mirrors.
    FileFetch(std::vector<QByteArray> bases, const char *folder, std::vector<FetchItem> items,
              std::function<void(std::size_t)> onCommitted, std::vector<QByteArray> chunkSources = {});
    ~FileFetch();
    FileFetch(const FileFetch &) = delete;
    FileFetch &operator=(const FileFetch &) = delete;

    // Works for at most about waitMs; the ending once it is no longer Working.
    Ending run(int waitMs);

    // The bytes the new files hold so far, of how many, and the bytes received,
    // which only grow.
    TransferProgress progress() const;
    // The index of the item that failed, or the count when all were committed.
    std::size_t committedCount() const;
    // How the failed item's transfer ended (TransferFailed).
    const TransferOutcome &failedTransfer() const;

private:
    struct Work;
    std::unique_ptr<Work> work;
};
