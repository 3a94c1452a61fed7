#pragma once

#include <QtGlobal>

// Wall-clock milliseconds since the epoch.
qint64 currentTimeMs();
