#pragma once

#include <QByteArray>
#include <QtGlobal>

class FileDownloader;
class QWidget;
struct ContentCheck;

enum class FetchResult { Stored, Failed, Cancelled };

// The box for a name from the update list that the launcher will not use, shown
// where the downloader's box would be.
void showRefusedNameMessage(QWidget *parent, const QByteArray &name);

// True when the disk of folder has neededBytes free; otherwise the player is told
// in a box, before anything is downloaded.
bool enoughDiskSpace(QWidget *parent, const char *folder, qint64 neededBytes);

// Downloads the file name of a folder of the update server ("clientes/",
// "imagens/", "launcher/") into localPath. A name that would reach outside its
// folder, or that a file stored in the game folder itself would share with the
// launcher's own files, fails like a failed download, with its own box, before any
// request is made; so does a body that differs from what the list says of it. A
// file already there with the list's size and SHA-256 is stored without a request.
FetchResult fetchFile(FileDownloader &downloader, const QByteArray &downloadPath, const char *folder,
                      const QByteArray &name, const QByteArray &localPath, const char *displayName,
                      const ContentCheck &expected);
