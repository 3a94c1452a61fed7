#pragma once

#include <QByteArray>

class FileDownloader;
struct ContentCheck;

enum class FetchResult { Stored, Failed, Cancelled };

// Downloads the file name of a folder of the update server ("clientes/",
// "imagens/", "launcher/") into localPath. A name that would reach outside its
// folder fails like a failed download, before any request is made; so does a
// body that differs from what the list says of it.
FetchResult fetchFile(FileDownloader &downloader, const QByteArray &downloadPath, const char *folder,
                      const QByteArray &name, const QByteArray &localPath, const char *displayName,
                      const ContentCheck &expected);
