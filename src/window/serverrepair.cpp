#include "serverrepair.h"

#include "fetchfile.h"
#include "filedownloader.h"
#include "chunks/installcheck.h"
#include "state/launcherstate.h"
#include "messages.h"
#include "names.h"
#include "playertexts.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QPushButton>

void ServerRepair::addActions()
{
    for (quint16 id = 1; id <= 6; ++id) {
        auto *button =
            context.form->frame_buttons->findChild<QPushButton *>(QStringLiteral("button_server_%1").arg(id));
        auto *repair = new QAction(PlayerText::repairAction, button);
        repair->setObjectName(QStringLiteral("repair_server_%1").arg(id));
        QObject::connect(repair, &QAction::triggered, context.window, [this, id] { this->repair(id); });
        button->addAction(repair);
        button->setContextMenuPolicy(Qt::ActionsContextMenu);
    }
}

void ServerRepair::repair(quint16 id)
{
    const auto held = context.state->servers.find(id);
    if (held == context.state->servers.end() || !context.form->frame_buttons->isEnabled())
        return; // nothing recorded, or another action is running
    ServerEntry &server = held->second;
    std::vector<InstalledFile> installed;
    std::vector<const FileEntry *> entries;
    for (const auto &[name, file] : server.files) {
        if (!file.installedVersion.isEmpty() && !file.dropped && isSafeRelativeName(name)) {
            installed.push_back({"clientes/" + name, file.check});
            entries.push_back(&file);
        }
    }

    context.form->frame_buttons->setEnabled(false);
    context.form->label_status->setText(PlayerText::checkingFiles(server.name));
    const std::vector<bool> damaged =
        findDamagedFiles(installed, [] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
    if (*context.closing)
        return;
    std::vector<FetchItem> items;
    qint64 bytes = 0;
    for (std::size_t at = 0; at < installed.size(); ++at) {
        if (damaged[at]) {
            items.push_back({entries[at]->name, installed[at].path, installed[at].expected});
            bytes = addBytes(bytes, installed[at].expected);
        }
    }
    if (items.empty()) {
        context.form->label_status->setText(PlayerText::filesCorrect(server.name));
        context.form->frame_buttons->setEnabled(true);
        return;
    }

    const QString summary =
        PlayerText::repairSummary(server.name, items.size(), (bytes + (1 << 20) - 1) >> 20);
    const QByteArray shown = summary.toUtf8();
    context.form->label_status->setText(PlayerText::repairing(summary));
    FileDownloader downloader;
    downloader.progressBar = context.form->action_progressBar;
    downloader.statusLabel = context.form->label_status;
    const FetchResult result = fetchFiles(downloader, context.state->downloadBases(), "clientes/", items,
                                          shown.constData(), [](std::size_t) {});
    if (result == FetchResult::Failed)
        showErrorMessage(context.window, PlayerText::clientFileFailed);
    else if (result == FetchResult::Stored)
        context.form->label_status->setText(PlayerText::filesRepaired(server.name));
    if (result != FetchResult::Cancelled)
        context.form->frame_buttons->setEnabled(true);
}
