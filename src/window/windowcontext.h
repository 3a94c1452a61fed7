#pragma once

class LauncherState;
class QWidget;

namespace Ui {
class MainWindow;
}

// What the window's behaviours share: the window that parents their boxes and
// receives their timers, its form, the launcher state, and whether the player is
// closing the window (then nothing more starts).
struct WindowContext {
    QWidget *window;
    Ui::MainWindow *form;
    LauncherState *state;
    const bool *closing;
};
