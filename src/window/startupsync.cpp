#include "startupsync.h"

#include "carousel.h"
#include "fetchrunner.h"
#include "messages.h"
#include "phaseplans.h"
#include "playertexts.h"
#include "serverbuttons.h"
#include "state/launcherstate.h"
#include "ui_mainwindow.h"
#include "updatelistfetch.h"
#include "updatemode.h"

#include <QCoreApplication>

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

    UpdateListFetch fetch(*context.state, context.window, context.runner->policy());
    const RunResult list = context.runner->drive(fetch);
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
