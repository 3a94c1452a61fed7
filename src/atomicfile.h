#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path with contents through a temporary file beside it and a
// rename, so that a crash or a full disk never leaves a partial file behind. False
// when the file could not be replaced; the old one is then untouched.
bool replaceFileContents(const QString &path, const QByteArray &contents);
