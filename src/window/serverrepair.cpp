#include "serverrepair.h"

#include "fetchrunner.h"
#include "phaseplans.h"
#include "playertexts.h"
#include "state/launcherstate.h"
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
    const ServerEntry &server = held->second;
    const std::vector<InstalledFile> installed = installedFiles(server);

    context.form->frame_buttons->setEnabled(false);
    context.form->label_status->setText(PlayerText::checkingFiles(server.name));
    const std::vector<bool> damaged =
        findDamagedFiles(installed, [] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
    if (context.runner->isClosing())
        return;
    const FetchPlan plan = repairPlan(*context.state, server, installed, damaged);
    if (plan.items.empty()) {
        context.form->label_status->setText(PlayerText::filesCorrect(server.name));
        context.form->frame_buttons->setEnabled(true);
        return;
    }

    context.form->label_status->setText(PlayerText::repairing(QString::fromUtf8(plan.shownName)));
    const RunResult result = context.runner->run(plan);
    if (result.succeeded())
        context.form->label_status->setText(PlayerText::filesRepaired(server.name));
    if (!result.stopped())
        context.form->frame_buttons->setEnabled(true);
}
