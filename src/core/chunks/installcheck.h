#pragma once

#include "transfer/contentcheck.h"

#include <QByteArray>

#include <functional>
#include <vector>

struct InstalledFile {
    QByteArray path;
    ContentCheck expected;
};

// Which of the files differ from their size and SHA-256 (or are missing), read
// several at a time on threads of their own; wait is called every few
// milliseconds meanwhile, so that a window stays alive. A file the list gives no
// size or SHA-256 for cannot be judged and counts as sound.
std::vector<bool> findDamagedFiles(const std::vector<InstalledFile> &files,
                                   const std::function<void()> &wait);
