#include "serverbuttons.h"

#include "fetchrunner.h"
#include "phaseplans.h"
#include "playertexts.h"
#include "state/launcherstate.h"
#include "ui_mainwindow.h"

void ServerButtons::refresh()
{
    for (auto &[id, server] : context.state->servers) {
        auto *button = context.form->frame_buttons->findChild<QPushButton *>(
            QStringLiteral("button_server_%1").arg(server.id));
        if (!button)
            continue; // ids outside 1 to 6 have no button
        button->setText(PlayerText::serverCaption(server.name, buttonStatus(server)));
        button->setEnabled(true);
    }
}

void ServerButtons::act(quint16 id)
{
    const auto held = context.state->servers.find(id);
    if (held == context.state->servers.end())
        return;
    ServerEntry &server = held->second;

    if (LauncherState::pendingFiles(server).empty()) {
        context.runner->tell(playServer(server));
        return;
    }

    context.form->frame_buttons->setEnabled(false);
    // A stop or a failure may leave bytes that the caption offers to continue.
    if (context.runner->run(installPlan(*context.state, server, context.window)).ending !=
        RunResult::Ending::Closing)
        refresh();
    context.form->frame_buttons->setEnabled(true);
}
