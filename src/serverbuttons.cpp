// The six server buttons: install, update or play.

#include "mainwindow.h"

#include "fetchfile.h"
#include "filedownloader.h"
#include "launcherstate.h"
#include "messages.h"
#include "names.h"
#include "platform/platform.h"
#include "ui_mainwindow.h"

namespace {

const char *statusSuffix(ServerStatus status)
{
    switch (status) {
    case ServerStatus::Install:
        return " (Instalar)";
    case ServerStatus::Update:
        return " (Atualizar)";
    case ServerStatus::Play:
        break;
    }
    return " (Jogar)";
}

} // namespace

void MainWindow::refreshServerButtons()
{
    for (auto &[id, server] : launcherState->servers) {
        auto *button =
            form->frame_buttons->findChild<QPushButton *>(QStringLiteral("button_server_%1").arg(server.id));
        if (!button)
            continue; // ids outside 1 to 6 have no button
        button->setText(QString::fromUtf8(server.name + statusSuffix(LauncherState::serverStatus(server))));
        button->setEnabled(true);
    }
}

void MainWindow::serverAction(quint16 id)
{
    const auto held = launcherState->servers.find(id);
    if (held == launcherState->servers.end())
        return;
    ServerEntry working = held->second;
    const std::map<QByteArray, FileEntry *> pending = LauncherState::pendingFiles(working);

    if (pending.empty()) {
        if (isSafeRelativeName(working.executable))
            platform().startProgram("clientes", working.executable, std::nullopt);
        else
            showRefusedNameMessage(this, working.executable);
        return;
    }

    form->frame_buttons->setEnabled(false);
    for (const auto &[name, file] : pending) {
        FileDownloader downloader;
        downloader.progressBar = form->action_progressBar;
        downloader.statusLabel = form->label_status;
        const FetchResult result = fetchFile(downloader, launcherState->downloadPath, "clientes/", file->name,
                                             "clientes/" + file->name, working.name.constData(), file->check);
        if (result != FetchResult::Stored) {
            // A cancel comes from a closing window: no box, nothing recorded.
            if (result == FetchResult::Failed)
                showErrorMessage(this,
                                 QString::fromLatin1("N\xe3o foi poss\xedvel baixar um arquivo do servidor"));
            form->frame_buttons->setEnabled(true);
            return;
        }
        if (file->function == "exec")
            platform().startProgram("clientes", file->name, file->value);
        if (!file->cmd.isEmpty())
            platform().runCommandLine(file->cmd);
        file->installedVersion = file->lastVersion;
    }

    launcherState->servers[id] = working;
    launcherState->saveConfigOrTell();
    refreshServerButtons();
    form->frame_buttons->setEnabled(true);
}
