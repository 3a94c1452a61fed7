#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A list to be signed must give every file's size and SHA-256, or the signature
// would vouch for the list but not for the files it names.
enum class ListUse { Unsigned, Signed };

// What in an update list would hurt players, one line each: an empty result means
// nothing was found. With a release folder, files named by the list must be in it.
QStringList checkUpdateList(const QByteArray &list, const QString &releaseFolder = QString(),
                            ListUse use = ListUse::Unsigned);
