#include "platformrecorder.h"

#include <QFile>

bool PlatformRecorder::record(const QByteArray &call)
{
    calls << call;
    QFile config(QStringLiteral("config.xml"));
    configs << (config.open(QIODevice::ReadOnly) ? config.readAll() : QByteArray());
    return true;
}
