#pragma once

#include <QString>

// One row of docs/reliability.md: a fault or bad input, how often it was tried
// and what came of it. scripts/reliability-report collects the rows from the
// test run's output.
inline void reportReliability(const QString &area, const QString &trial, int times, const QString &outcome)
{
    qInfo("reliability|%s|%s|%d|%s", qUtf8Printable(area), qUtf8Printable(trial), times,
          qUtf8Printable(outcome));
}
