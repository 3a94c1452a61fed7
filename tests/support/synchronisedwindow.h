#pragma once

#include <QEventLoop>
#include <QProgressBar>
#include <QTimer>
#include <QWidget>

// Runs the event loop until the window's start-up synchronisation has handed the
// window to the player (its progress bar stands at 100).
inline void waitUntilSynchronised(QWidget &window)
{
    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("action_progressBar"));
    QEventLoop waiting;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (bar->value() == 100)
            waiting.quit();
    });
    poll.start(1);
    waiting.exec();
}
