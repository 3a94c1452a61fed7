#pragma once

#include <QByteArray>

#include <vector>

// Names from the update list (client files, images, launcher files, the client's
// executable) are paths below their folder. A name that is empty, absolute, starts
// with a drive, holds a ".." segment (with / or \ as separator) or a control
// character, or could be taken for a partial download, would reach outside it.
bool isSafeRelativeName(const QByteArray &name);

// A launcher file lands in the game folder itself, beside the launcher's own
// files: besides being safe, its name must not be one of them (config.xml and its
// kept copy, the launcher and its new build, its log, partial files), however it is spelt
// on a file system that ignores case, trailing dots and spaces.
bool isLauncherFileName(const QByteArray &name);

// The address of a file below a folder of the update server: the base, the folder
// and the name. Only the bytes that cannot stand in an address are encoded, so a
// name the operator wrote already encoded is requested as written.
QByteArray downloadUrl(const QByteArray &base, const char *folder, const QByteArray &name);

// The same file below each of several base addresses (the list's download path,
// then its mirrors), in that order.
std::vector<QByteArray> downloadUrls(const std::vector<QByteArray> &bases, const char *folder,
                                     const QByteArray &name);
