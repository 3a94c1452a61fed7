#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What in an update list would hurt players, one line each: an empty result means
// nothing was found. With a release folder, files named by the list must be in it.
QStringList checkUpdateList(const QByteArray &list, const QString &releaseFolder = QString());
