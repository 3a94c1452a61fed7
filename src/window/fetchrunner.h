#pragma once

#include "fetchplan.h"
#include "operation.h"
#include "transfer/transferpolicy.h"

#include <QByteArray>

#include <functional>

class QLabel;
class QProgressBar;
class QWidget;

// The one running operation of the window: it drives the core's work in slices
// on the GUI thread with the event loop turning, shows its progress in the bar
// and the status label, and stops it when the window closes. It pauses a plan
// that the player may pause when told to.
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
    // The most the launcher receives per second from now on, in every run; 0
    // for no limit.
    void limitSpeed(qint64 bytesPerSecond) { transferPolicy.control->limitSpeed(bytesPerSecond); }

    // Told true as a plan that the player may pause starts, false as it ends.
    void onPauseOffered(std::function<void(bool offered)> listener) { pauseOffered = std::move(listener); }
    // Within a slice, every transfer of the run holds still, or goes on where it
    // stopped. A run never ends paused: the next one receives.
    void setPaused(bool paused);
    bool isPaused() const { return transferPolicy.control->isPaused(); }

private:
    void showProgress(const TransferProgress &now, const QByteArray &shownName);

    QWidget *window;
    QProgressBar *bar;
    QLabel *status;
    TransferPolicy transferPolicy;
    std::function<void(bool)> pauseOffered = [](bool) {};
    Operation *running = nullptr;
    bool closing = false;
    qint64 startMs = 0;         // the first speed figure counts from here
    qint64 lastUpdateMs = 0;    // when the speed text was last written
    qint64 lastUpdateBytes = 0; // bytes received by then
    double smoothedSpeed = -1;  // kilobytes per second; negative before the first figure
};
