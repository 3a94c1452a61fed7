#include "fetchrunner.h"

#include "chunks/filefetch.h"
#include "clock.h"
#include "messages.h"
#include "playertexts.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

namespace {

// Kilobytes per second over the interval, however long it really was.
qint64 speedKilobytesPerSecond(qint64 bytes, qint64 elapsedMs)
{
    return bytes * 1000 / (std::max<qint64>(elapsedMs, 1) * 1024);
}

// A slice of work, then the window's events: the window never waits longer than
// a slice for its turn.
constexpr int sliceMs = 20;

} // namespace

FetchRunner::FetchRunner(QWidget *window, QProgressBar *bar, QLabel *status, TransferPolicy policy)
    : window(window), bar(bar), status(status), transferPolicy(std::move(policy))
{
}

RunResult FetchRunner::run(const FetchPlan &plan)
{
    if (const std::optional<QString> shortage = plan.diskShortage()) {
        const RunResult noRoom = RunResult::failure(*shortage);
        tell(noRoom);
        return noRoom;
    }
    FileFetch fetch(plan, transferPolicy);
    if (plan.playerMayPause)
        pauseOffered(true);
    const RunResult result = drive(fetch, plan.shownName);
    if (plan.playerMayPause) {
        setPaused(false);
        pauseOffered(false);
    }
    if (result.failed()) {
        tell(result);
        tell(RunResult::failure(plan.failureTold));
    }
    plan.onEnded(result);
    return result;
}

RunResult FetchRunner::drive(Operation &work, const QByteArray &shownName)
{
    if (closing)
        return {RunResult::Ending::Closing};
    running = &work;
    startMs = currentTimeMs();
    lastUpdateMs = 0;
    lastUpdateBytes = 0;
    smoothedSpeed = -1;
    bool unfinished = true;
    while (unfinished) {
        unfinished = work.run(sliceMs);
        if (!shownName.isEmpty())
            showProgress(work.progress(), shownName);
        // A window closed meanwhile stops the work, which ends within a slice or two.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    running = nullptr;
    return work.result();
}

void FetchRunner::stop(RunResult::Ending why)
{
    closing = closing || why == RunResult::Ending::Closing;
    if (running)
        running->stop(why);
}

void FetchRunner::tell(const RunResult &result) const
{
    if (result.failed() && !result.told.isEmpty())
        showErrorMessage(window, result.told);
}

void FetchRunner::setPaused(bool paused)
{
    transferPolicy.control->pause(paused);
    bar->setFormat(paused ? PlayerText::pausedBarFormat : QStringLiteral("%p%"));
}

// The bar on every report, the speed text at most once a second.
void FetchRunner::showProgress(const TransferProgress &now, const QByteArray &shownName)
{
    if (now.expectedTotal <= 0)
        return;
    const qint64 at = currentTimeMs();
    if (transferPolicy.control->isPaused()) {
        status->setText(PlayerText::pausedProgress(shownName, now.stored, now.expectedTotal));
        // The speed after a pause counts from the moment it ends.
        startMs = at;
        lastUpdateMs = 0;
        lastUpdateBytes = now.received;
    } else if (at - lastUpdateMs > 1000) {
        const qint64 since = lastUpdateMs == 0 ? startMs : lastUpdateMs;
        const qint64 speed = speedKilobytesPerSecond(now.received - lastUpdateBytes, at - since);
        // The time left follows a smoothed rate, so that one slow second does not
        // make it jump.
        smoothedSpeed = smoothedSpeed < 0 ? double(speed) : 0.7 * smoothedSpeed + 0.3 * double(speed);
        const std::optional<qint64> secondsLeft =
            smoothedSpeed >= 1
                ? std::optional(qint64(double(now.expectedTotal - now.stored) / 1024 / smoothedSpeed))
                : std::nullopt;
        status->setText(PlayerText::downloadProgress(shownName, speed) +
                        PlayerText::amountAndTimeLeft(now.stored, now.expectedTotal, secondsLeft));
        lastUpdateBytes = now.received;
        lastUpdateMs = currentTimeMs();
    }
    bar->setValue(int(std::min<qint64>(now.stored * 100 / now.expectedTotal, 100)));
}
