#include "startupsync.h"

#include "buildconfig.h"
#include "carousel.h"
#include "fetchrunner.h"
#include "listacceptance.h"
#include "messages.h"
#include "phaseplans.h"
#include "playertexts.h"
#include "serverbuttons.h"
#include "state/launcherstate.h"
#include "transfer/bodyfetch.h"
#include "transfer/unreachableorigins.h"
#include "ui_mainwindow.h"
#include "updatemode.h"

#include <QCoreApplication>

namespace {

// A list of thousands of files stays far below this; a larger answer is no list,
// and reading it whole could exhaust the player's memory.
constexpr qint64 maximumUpdateListSize = 32 * 1024 * 1024;

} // namespace

RunResult StartupSync::fetchUpdateList()
{
    // A start tries again every address an earlier one found unreachable.
    forgetUnreachableAddresses();
    const QByteArray &url = buildSettings().updateListUrl;
    BodyFetch list(url, maximumUpdateListSize, context.runner->policy());
    RunResult fetched = context.runner->drive(list);
    // A list too large to hold is as unreadable as a malformed one.
    if (fetched.failed() && fetched.unusableAnswer)
        fetched.told = PlayerText::unreadableList;
    if (!fetched.succeeded())
        return fetched;

    QByteArray signature;
    if (listNeedsSignature()) {
        BodyFetch signatureFetch(url + ".sig", maximumSignatureSize, context.runner->policy());
        const RunResult signed_ = context.runner->drive(signatureFetch);
        // A signature too large to be one is a bad one; one that could not be
        // fetched leaves the list as unfetched as a list that could not be.
        if (signed_.stopped() || (signed_.failed() && !signed_.unusableAnswer))
            return signed_;
        if (signed_.succeeded())
            signature = signatureFetch.body();
    }
    return acceptUpdateList(*context.state, list.body(), signature, context.window);
}

void StartupSync::run()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1000);
    context.form->frame_buttons->setEnabled(false);
    context.form->label_status->setText(PlayerText::downloadingList);
    context.form->action_progressBar->setValue(0);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1000);
    // A window closed while the event loop turned above means stop: nothing more
    // is fetched, shown or started.
    if (context.runner->isClosing())
        return;

    const RunResult list = fetchUpdateList();
    if (list.stopped())
        return;
    if (list.failed() && !list.unusableAnswer) {
        // Why the list or its signature could not be fetched stands alone, before
        // the window's own box.
        showErrorMessage(nullptr, list.told);
        showErrorMessage(context.window, PlayerText::listNotFetched);
        context.form->label_status->setText(PlayerText::loadedWithoutList);
    } else if (list.failed()) {
        context.runner->tell(list);
        context.form->label_status->setText(PlayerText::listNotRead);
    } else {
        if (updateImages().stopped())
            return;
        if (context.state->launcherIsCurrent()) {
            context.form->label_status->setText(PlayerText::loadedSuccessfully);
        } else if (selfUpdateFailed) {
            // Offering the update again would only fail again, in a loop.
            showErrorMessage(context.window, PlayerText::launcherNotReplaced);
            context.form->label_status->setText(PlayerText::launcherNotUpdated);
        } else if (!updateLauncher().failed()) {
            return; // handed over to the new build, or the window is closing
        }
    }

    serverButtons.refresh();
    carousel.showNext();
    context.form->action_progressBar->setValue(100);
    context.form->frame_buttons->setEnabled(true);
}

RunResult StartupSync::updateImages()
{
    if (context.state->imagesAreCurrent())
        return {};
    const RunResult result = context.runner->run(picturesPlan(*context.state, context.window));
    if (result.failed())
        context.form->label_status->setText(PlayerText::imageFailed);
    return result;
}

RunResult StartupSync::updateLauncher()
{
    presentMessageBox({context.window, MessageBoxRequest::Icon::Information, PlayerText::launcherUpdateTitle,
                       PlayerText::launcherUpdate});
    const RunResult result = context.runner->run(launcherPlan(*context.state));
    if (result.failed()) {
        context.form->label_status->setText(result.committed == 0 ? PlayerText::launcherNotUpdated
                                                                  : PlayerText::launcherFileFailed);
        return result;
    }
    if (result.stopped() || handOverToNewBuild())
        return result;
    // The new build is in place beside the launcher but would not start: the
    // player is told, and the next start offers the update again.
    showErrorMessage(context.window, PlayerText::launcherNotReplaced);
    context.form->label_status->setText(PlayerText::launcherNotUpdated);
    return RunResult::failure(QString());
}
