#pragma once

#include "state/launcherstate.h"
#include "transfer/transferengine.h"

#include <QByteArray>
#include <QtGlobal>

#include <functional>

class QLabel;
class QProgressBar;
class TransferEngine;
struct TransferOutcome;

// The window's side of the transfers: it runs a transfer engine on the GUI
// thread with the event loop turning, shows the progress in the bar and the
// status label, and turns each failed outcome into the program's box. A single
// call fetches one body into memory, or, with a localPath, into a partial file
// that replaces the target after a complete status-200 answer. Every failure has
// been shown in a box before the call returns false; a cancelled call shows none.
class FileDownloader
{
public:
    QByteArray buffer;                   // the body, when it is not written to localPath
    const char *displayName = nullptr;   // name in the progress text; borrowed for one call
    QByteArray localPath;                // target file; empty keeps the body in memory
    QProgressBar *progressBar = nullptr; // switches the progress display on
    qint64 lastUpdateMs = 0;             // when the speed text was last written
    qint64 lastUpdateBytes = 0;          // bytes received by then
    QLabel *statusLabel = nullptr;       // progress text, and parent of the error boxes
    qint64 maximumBodySize = 0;          // for a body kept in memory; 0 for no limit
    ContentCheck expected;               // size and SHA-256 a body for localPath must have

    bool downloadFile(const char *url, const char *name);

    // Runs the engine until every request has finished or afterSlice returns
    // false, with the event loop and the progress display alive in between.
    void drive(TransferEngine &engine, const char *name, const std::function<bool()> &afterSlice);

    using Progress = TransferProgress;
    // Runs slices of work until one returns false, showing progress() and
    // turning the event loop after each; a closing window cancels the engines,
    // which ends their slices.
    void drive(const char *name, const std::function<bool()> &slice,
               const std::function<Progress()> &progress);

    // The box for an outcome that is not Stored; none for a cancel or a body over
    // maximumBodySize.
    void showFailure(const TransferOutcome &outcome);

    // The bar at stored of expected bytes; the speed text at most once a second,
    // from the bytes received since the last one.
    void showProgress(qint64 stored, qint64 expectedTotal, qint64 received);

    // The last call ended because the window was closing.
    bool wasCancelled() const { return cancelled; }

    // The body to be kept in memory grew past maximumBodySize: the transfer was
    // stopped and the call returned false without a box.
    bool exceededMaximumBodySize() const { return bodyTooLarge; }

    // Stops every transfer in progress, for a window that is closing.
    static void cancelRunningTransfers();

private:
    qint64 transferStartMs = 0; // the first speed figure counts from here
    bool cancelled = false;
    bool bodyTooLarge = false;
};
