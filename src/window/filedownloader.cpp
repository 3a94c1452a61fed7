#include "filedownloader.h"

#include "clock.h"
#include "messages.h"
#include "playertexts.h"
#include "transfer/transferengine.h"

#include <QCoreApplication>
#include <QLabel>

void FileDownloader::cancelRunningTransfers()
{
    TransferEngine::cancelAll();
}

void FileDownloader::drive(const char *name, const std::function<bool()> &slice,
                           const std::function<Progress()> &progress)
{
    displayName = name;
    cancelled = false;
    bodyTooLarge = false;
    lastUpdateMs = 0;
    lastUpdateBytes = 0;
    transferStartMs = currentTimeMs();
    bool unfinished = true;
    while (unfinished) {
        unfinished = slice();
        const Progress now = progress();
        showProgress(now.stored, now.expectedTotal, now.received);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void FileDownloader::drive(TransferEngine &engine, const char *name, const std::function<bool()> &afterSlice)
{
    // A slice of transfer work, then the window's events: the window never waits
    // longer than a slice for its turn.
    constexpr int sliceMs = 20;
    drive(
        name,
        [&] {
            const bool unfinished = engine.run(sliceMs);
            return afterSlice() && unfinished;
        },
        [&] {
            return Progress{engine.bytesStored(), engine.bytesExpected(), engine.bytesReceived()};
        });
}

bool FileDownloader::downloadFile(const char *url, const char *name)
{
    buffer.clear();
    TransferEngine engine(1);
    // A body kept in memory is the update list or its signature, which keep their
    // addresses from one release to the next: no cache may answer for them.
    const std::size_t request =
        engine.add({url, localPath, maximumBodySize, expected, {}, localPath.isEmpty()});
    drive(engine, name, [] { return true; });
    engine.cancel(); // a cancel from the window ends the call at once
    const TransferOutcome &outcome = engine.outcome(request);
    buffer = engine.body(request);
    if (outcome.kind == TransferOutcome::Kind::Stored && (localPath.isEmpty() || engine.commit(request)))
        return true;
    if (outcome.kind == TransferOutcome::Kind::Stored)
        showFailure({TransferOutcome::Kind::StoreError});
    else
        showFailure(outcome);
    return false;
}

void FileDownloader::showFailure(const TransferOutcome &outcome)
{
    switch (outcome.kind) {
    case TransferOutcome::Kind::Stored:
        break;
    case TransferOutcome::Kind::Cancelled:
        cancelled = true;
        consoleMessage("Download cancelado");
        break;
    case TransferOutcome::Kind::BodyTooLarge:
        bodyTooLarge = true;
        consoleMessage("Download interrompido: resposta maior que o limite");
        break;
    case TransferOutcome::Kind::HttpStatus:
        // Also for a body kept in memory: an error page of a CDN or a proxy may
        // be well-formed XML, and is no update list.
        showErrorMessage(statusLabel, PlayerText::serverError(outcome.httpStatus));
        break;
    case TransferOutcome::Kind::TransferError:
        showErrorMessage(statusLabel, PlayerText::transferError(outcome.transferError));
        break;
    case TransferOutcome::Kind::ContentMismatch:
        showErrorMessage(statusLabel, PlayerText::contentMismatch);
        break;
    case TransferOutcome::Kind::StoreError:
        showErrorMessage(statusLabel, PlayerText::inUse);
        break;
    }
}
