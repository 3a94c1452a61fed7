#pragma once

#include "windowcontext.h"

#include <QTimer>

// Beside the progress bar while a server's files download: a button that pauses
// and resumes the download, and the player's speed limit, which holds from the
// moment it changes and is kept in launcher.ini for the next starts. Both take
// the keyboard's focus and have names a screen reader reads.
class DownloadControls
{
public:
    explicit DownloadControls(const WindowContext &context);
    // A change not saved yet is saved as the window closes.
    ~DownloadControls();
    DownloadControls(const DownloadControls &) = delete;
    DownloadControls &operator=(const DownloadControls &) = delete;

private:
    void showPaused(bool paused);
    void limitChanged(int kilobytesPerSecond);
    bool saveLimit();

    WindowContext context;
    int limitKilobytes = 0;
    // One save a moment after the last change, not one per step of the arrows.
    QTimer saveSoon;
};
