// The start-up synchronisation: the update list, the carousel pictures and the
// launcher's own update, once per start.

#include "mainwindow.h"

#include "buildconfig.h"
#include "configsteps.h"
#include "fetchfile.h"
#include "filedownloader.h"
#include "launcherstate.h"
#include "messages.h"
#include "platform/platform.h"
#include "playertexts.h"
#include "processend.h"
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

ListAcceptance MainWindow::fetchUpdateList()
{
    FileDownloader listDownloader;
    listDownloader.maximumBodySize = maximumUpdateListSize;
    if (listDownloader.downloadFile(buildSettings().updateListUrl.constData(), nullptr))
        return acceptUpdateList(listDownloader.buffer);
    if (listDownloader.wasCancelled())
        return ListAcceptance::Cancelled;
    if (!listDownloader.exceededMaximumBodySize())
        return ListAcceptance::NotFetched;
    // A list too large to hold is as unreadable as a malformed one.
    showUnreadableListMessage(this);
    return ListAcceptance::Refused;
}

void MainWindow::onLoad()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1000);
    form->frame_buttons->setEnabled(false);
    form->label_status->setText(PlayerText::downloadingList);
    form->action_progressBar->setValue(0);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1000);
    // A window closed while the event loop turned above means stop: nothing more
    // is fetched, shown or started.
    if (closing)
        return;

    switch (fetchUpdateList()) {
    case ListAcceptance::Cancelled:
        return;
    case ListAcceptance::NotFetched:
        showErrorMessage(this, PlayerText::listNotFetched);
        form->label_status->setText(PlayerText::loadedWithoutList);
        break;
    case ListAcceptance::Refused:
        form->label_status->setText(PlayerText::listNotRead);
        break;
    case ListAcceptance::Merged:
        if (updateImages() == FetchResult::Cancelled)
            return;
        if (launcherState->launcherInstalledVersion == launcherState->launcherLastVersion) {
            form->label_status->setText(PlayerText::loadedSuccessfully);
        } else if (selfUpdateFailed) {
            // Offering the update again would only fail again, in a loop.
            showErrorMessage(this, PlayerText::launcherNotReplaced);
            form->label_status->setText(PlayerText::launcherNotUpdated);
        } else if (updateLauncher() != FetchResult::Failed) {
            return; // handed over to the new build, or the window is closing
        }
        break;
    }

    refreshServerButtons();
    nextImage();
    form->action_progressBar->setValue(100);
    form->frame_buttons->setEnabled(true);
}

FetchResult MainWindow::updateImages()
{
    if (launcherState->imagesInstalledVersion == launcherState->imagesLastVersion)
        return FetchResult::Stored;

    qint64 neededBytes = 0;
    for (const auto &[name, image] : launcherState->images)
        neededBytes += image.check.size.toLongLong();
    if (!enoughDiskSpace(this, "imagens", neededBytes)) {
        form->label_status->setText(PlayerText::imageFailed);
        return FetchResult::Failed;
    }
    std::vector<FetchItem> items;
    for (const auto &[name, image] : launcherState->images)
        items.push_back({image.name, "imagens/" + image.name, image.check});
    FileDownloader downloader;
    downloader.progressBar = form->action_progressBar;
    downloader.statusLabel = form->label_status;
    const FetchResult result = fetchFiles(downloader, launcherState->downloadBases(), "imagens/", items,
                                          "Imagem", [](std::size_t) {});
    if (result != FetchResult::Stored) {
        // The version stays, so the next start fetches every picture again.
        if (result == FetchResult::Failed)
            form->label_status->setText(PlayerText::imageFailed);
        return result;
    }
    launcherState->imagesInstalledVersion = launcherState->imagesLastVersion;
    saveConfigOrTell(*launcherState, this);
    return FetchResult::Stored;
}

FetchResult MainWindow::updateLauncher()
{
    presentMessageBox({this, MessageBoxRequest::Icon::Information, PlayerText::launcherUpdateTitle,
                       PlayerText::launcherUpdate});

    qint64 neededBytes = launcherState->launcherBuildCheck.size.toLongLong();
    for (const auto &[name, check] : launcherState->launcherFileChecks)
        neededBytes += check.size.toLongLong();
    if (!enoughDiskSpace(this, ".", neededBytes)) {
        form->label_status->setText(PlayerText::launcherNotUpdated);
        return FetchResult::Failed;
    }
    // The new build first, then its files, as the list names them.
    std::vector<FetchItem> items{{"launcher.exe", "newLauncher.exe", launcherState->launcherBuildCheck}};
    for (const QByteArray &name : launcherState->launcherFiles)
        items.push_back({name, name, launcherState->launcherFileChecks[name]});
    FileDownloader downloader;
    downloader.progressBar = form->action_progressBar;
    downloader.statusLabel = form->label_status;
    std::size_t stoppedAt = 0;
    const FetchResult result = fetchFiles(
        downloader, launcherState->downloadBases(), "launcher/", items, "Launcher", [](std::size_t) {},
        &stoppedAt);
    if (result == FetchResult::Failed)
        form->label_status->setText(stoppedAt == 0 ? PlayerText::launcherNotUpdated
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
