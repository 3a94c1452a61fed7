#pragma once

#include "fetchplan.h"
#include "operation.h"
#include "transfer/transferpolicy.h"

#include <QByteArray>

class QLabel;
class QProgressBar;
class QWidget;

// The one running operation of the window: it drives the core's work in slices
// on the GUI thread with the event loop turning, shows its progress in the bar
// and the status label, and stops it when the window closes.
class FetchRunner
{
public:
    FetchRunner(QWidget *window, QProgressBar *bar, QLabel *status, TransferPolicy policy = {});

    // Runs a phase's plan with the progress display. A disk that cannot hold it
    // is told before anything is fetched; after a failure, its own box and the
    // plan's; a stop shows nothing. Then the plan's own ending runs.
    RunResult run(const FetchPlan &plan);

    // Drives work to its end with the window's events alive, its progress shown
    // under shownName unless that is empty. Shows no box.
    RunResult drive(Operation &work, const QByteArray &shownName = QByteArray());

    // Stops the work under way; once the window closes, work started later ends
    // at once as well.
    void stop(RunResult::Ending why);
    bool isClosing() const { return closing; }

    // The box for a failure's own text, if it has one.
    void tell(const RunResult &result) const;

    const TransferPolicy &policy() const { return transferPolicy; }

private:
    void showProgress(const TransferProgress &now, const QByteArray &shownName);

    QWidget *window;
    QProgressBar *bar;
    QLabel *status;
    TransferPolicy transferPolicy;
    Operation *running = nullptr;
    bool closing = false;
    qint64 startMs = 0;         // the first speed figure counts from here
    qint64 lastUpdateMs = 0;    // when the speed text was last written
    qint64 lastUpdateBytes = 0; // bytes received by then
    double smoothedSpeed = -1;  // kilobytes per second; negative before the first figure
};
