#pragma once

#include <QString>

// One row of docs/reliability.md: a fault or bad input, how often it was tried
// and what came of it. scripts/reliability-report collects the rows from the
// test run's output.
void reportReliability(const QString &area, const QString &trial, int times, const QString &outcome);
