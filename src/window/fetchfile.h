#pragma once

#include "launcherstate.h"

#include <QByteArray>
#include <QtGlobal>

#include <functional>
#include <vector>

class FileDownloader;
class QWidget;

enum class FetchResult { Stored, Failed, Cancelled };

// The box for a name from the update list that the launcher will not use, shown
// where the downloader's box would be.
void showRefusedNameMessage(QWidget *parent, const QByteArray &name);

// True when the disk of folder has neededBytes free; otherwise the player is told
// in a box, before anything is downloaded.
bool enoughDiskSpace(QWidget *parent, const char *folder, qint64 neededBytes);

// A file of a folder of the update server ("clientes/", "imagens/", "launcher/")
// and where it goes.
struct FetchItem {
    QByteArray name;
    QByteArray localPath;
    ContentCheck expected;
};

// Fetches the items side by side and puts them in place one after the other, in
// their order: item k replaces its target, and onCommitted(k) runs, only after
// items 0..k-1 did. The first item that fails ends the run with its box shown
// (none for a cancel); the items after it are not put in place, and their partial
// files that can be continued stay for the next run. stoppedAt receives the index
// of that item, or the count when all were committed.
//
// A name that would reach outside its folder, or that a file stored in the game
// folder itself would share with the launcher's own files, fails like a failed
// download, with its own box, before any request for it is made. A file already
// there with the list's size and SHA-256 is committed without a transfer.
//
// A file published in chunks is built from the chunks found in its older
// version, in what an interrupted build left, in chunkSources (the server's
// other installed files) and in the items before it, and only the rest is
// fetched.
FetchResult fetchFiles(FileDownloader &downloader, const std::vector<QByteArray> &bases, const char *folder,
                       const std::vector<FetchItem> &items, const char *displayName,
                       const std::function<void(std::size_t)> &onCommitted, std::size_t *stoppedAt = nullptr,
                       const std::vector<QByteArray> &chunkSources = {});
