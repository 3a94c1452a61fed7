#include "startupsync.h"

#include "buildconfig.h"
#include "carousel.h"
#include "state/configsteps.h"
#include "fetchfile.h"
#include "filedownloader.h"
#include "state/launcherstate.h"
#include "messages.h"
#include "platform/platform.h"
#include "playertexts.h"
#include "processend.h"
#include "serverbuttons.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QFile>

namespace {

// A list of thousands of files stays far below this; a larger answer is no list,
// and reading it whole could exhaust the player's memory.
constexpr qint64 maximumUpdateListSize = 32 * 1024 * 1024;

// Owner may write; everybody may read and run. Never writable by others, as the
// launcher runs with administrator rights.
constexpr QFile::Permissions launcherPermissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                   QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                   QFile::ExeOther;

} // namespace

ListAcceptance StartupSync::fetchUpdateList()
{
    // A start tries again every address an earlier one found unreachable.
    TransferEngine::forgetUnreachableAddresses();
    FileDownloader listDownloader;
    listDownloader.maximumBodySize = maximumUpdateListSize;
    if (listDownloader.downloadFile(buildSettings().updateListUrl.constData(), nullptr))
        return acceptUpdateList(*context.state, listDownloader.buffer, context.window);
    if (listDownloader.wasCancelled())
        return ListAcceptance::Cancelled;
    if (!listDownloader.exceededMaximumBodySize())
        return ListAcceptance::NotFetched;
    // A list too large to hold is as unreadable as a malformed one.
    showUnreadableListMessage(context.window);
    return ListAcceptance::Refused;
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
    if (*context.closing)
        return;

    switch (fetchUpdateList()) {
    case ListAcceptance::Cancelled:
        return;
    case ListAcceptance::NotFetched:
        showErrorMessage(context.window, PlayerText::listNotFetched);
        context.form->label_status->setText(PlayerText::loadedWithoutList);
        break;
    case ListAcceptance::Refused:
        context.form->label_status->setText(PlayerText::listNotRead);
        break;
    case ListAcceptance::Merged:
        if (updateImages() == FetchResult::Cancelled)
            return;
        if (context.state->launcherIsCurrent()) {
            context.form->label_status->setText(PlayerText::loadedSuccessfully);
        } else if (selfUpdateFailed) {
            // Offering the update again would only fail again, in a loop.
            showErrorMessage(context.window, PlayerText::launcherNotReplaced);
            context.form->label_status->setText(PlayerText::launcherNotUpdated);
        } else if (updateLauncher() != FetchResult::Failed) {
            return; // handed over to the new build, or the window is closing
        }
        break;
    }

    serverButtons.refresh();
    carousel.showNext();
    context.form->action_progressBar->setValue(100);
    context.form->frame_buttons->setEnabled(true);
}

FetchResult StartupSync::updateImages()
{
    if (context.state->imagesAreCurrent())
        return FetchResult::Stored;

    qint64 neededBytes = 0;
    for (const auto &[name, image] : context.state->images)
        neededBytes = addBytes(neededBytes, image.check);
    if (!enoughDiskSpace(context.window, "imagens", neededBytes)) {
        context.form->label_status->setText(PlayerText::imageFailed);
        return FetchResult::Failed;
    }
    std::vector<FetchItem> items;
    for (const auto &[name, image] : context.state->images)
        items.push_back({image.name, "imagens/" + image.name, image.check});
    FileDownloader downloader;
    downloader.progressBar = context.form->action_progressBar;
    downloader.statusLabel = context.form->label_status;
    const FetchResult result = fetchFiles(downloader, context.state->downloadBases(), "imagens/", items,
                                          "Imagem", [](std::size_t) {});
    if (result != FetchResult::Stored) {
        // The version stays, so the next start fetches every picture again.
        if (result == FetchResult::Failed)
            context.form->label_status->setText(PlayerText::imageFailed);
        return result;
    }
    context.state->markImagesCurrent();
    saveConfigOrTell(*context.state, context.window);
    return FetchResult::Stored;
}

FetchResult StartupSync::updateLauncher()
{
    presentMessageBox({context.window, MessageBoxRequest::Icon::Information, PlayerText::launcherUpdateTitle,
                       PlayerText::launcherUpdate});

    qint64 neededBytes = context.state->launcherBuildCheck.bytes();
    for (const auto &[name, check] : context.state->launcherFileChecks)
        neededBytes = addBytes(neededBytes, check);
    if (!enoughDiskSpace(context.window, ".", neededBytes)) {
        context.form->label_status->setText(PlayerText::launcherNotUpdated);
        return FetchResult::Failed;
    }
    // The new build first, then its files, as the list names them.
    std::vector<FetchItem> items{{"launcher.exe", "newLauncher.exe", context.state->launcherBuildCheck}};
    for (const QByteArray &name : context.state->launcherFiles)
        items.push_back({name, name, context.state->launcherFileChecks[name]});
    FileDownloader downloader;
    downloader.progressBar = context.form->action_progressBar;
    downloader.statusLabel = context.form->label_status;
    std::size_t stoppedAt = 0;
    const FetchResult result = fetchFiles(
        downloader, context.state->downloadBases(), "launcher/", items, "Launcher", [](std::size_t) {},
        &stoppedAt);
    if (result == FetchResult::Failed)
        context.form->label_status->setText(stoppedAt == 0 ? PlayerText::launcherNotUpdated
                                                           : PlayerText::launcherFileFailed);
    if (result != FetchResult::Stored)
        return result;

    QFile::setPermissions(QStringLiteral("newLauncher.exe"), launcherPermissions);
    QFile::setPermissions(QStringLiteral("launcher.exe"), launcherPermissions);
    // The new build waits for this process to end before it copies itself over
    // launcher.exe.
    platform().startProgram(QByteArray(), "newLauncher.exe", QByteArray("-update"));
    endProcess(1);
    return FetchResult::Stored;
}
