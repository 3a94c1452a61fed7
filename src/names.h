#pragma once

#include <QByteArray>

// Names from the update list (client files, images, launcher files, the client's
// executable) are paths below their folder. A name that is empty, absolute, starts
// with a drive, holds a ".." segment (with / or \ as separator) or a control
// character, or could be taken for a partial download, would reach outside it.
bool isSafeRelativeName(const QByteArray &name);

// The address of a file below a folder of the update server: the base, the folder
// and the name, percent-encoded where a URL needs it.
QByteArray downloadUrl(const QByteArray &base, const char *folder, const QByteArray &name);
