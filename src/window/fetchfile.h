#pragma once

#include "chunks/filefetch.h"

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

// Runs a FileFetch (filefetch.h) with the bar, the speed and the window's
// events alive, and shows the box for its ending (none for a cancel): the
// downloader's box for a failed transfer or a file that could not be put in
// place, the refused-name box for a name the launcher will not use. stoppedAt
// receives the index of the item that failed, or the count when all were
// committed.
FetchResult fetchFiles(FileDownloader &downloader, const std::vector<QByteArray> &bases, const char *folder,
                       const std::vector<FetchItem> &items, const char *displayName,
                       const std::function<void(std::size_t)> &onCommitted, std::size_t *stoppedAt = nullptr,
                       const std::vector<QByteArray> &chunkSources = {});
