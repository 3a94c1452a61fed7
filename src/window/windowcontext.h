#pragma once

class FetchRunner;
class LauncherState;
class QWidget;

namespace Ui {
class MainWindow;
}

// What the window's behaviours share: the window that parents their boxes and
// receives their timers, its form, the launcher state, and the one running
// operation, which also knows whether the player is closing the window (then
// nothing more starts).
struct WindowContext {
    QWidget *window;
    Ui::MainWindow *form;
    LauncherState *state;
    FetchRunner *runner;
};
