#include "reliability.h"

#include <QtGlobal>

void reportReliability(const QString &area, const QString &trial, int times, const QString &outcome)
{
    qInfo("reliability|%s|%s|%d|%s", qUtf8Printable(area), qUtf8Printable(trial), times,
          qUtf8Printable(outcome));
}
