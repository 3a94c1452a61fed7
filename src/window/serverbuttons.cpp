#include "serverbuttons.h"

#include "state/configsteps.h"
#include "fetchfile.h"
#include "filedownloader.h"
#include "state/launcherstate.h"
#include "messages.h"
#include "names.h"
#include "platform/platform.h"
#include "playertexts.h"
#include "ui_mainwindow.h"

#include <QElapsedTimer>

namespace {

// Saves the versions an install records, without a save of config.xml per file
// of a large client: at once when it matters (an action ran), else at most once a
// second. After a save that failed, the player has been told once and no more
// saves are tried in this install.
class ConfigRecorder
{
public:
    ConfigRecorder(const LauncherState &state, QWidget *window) : state(state), window(window)
    {
        sinceSave.start();
    }

    void changed(bool mustSave)
    {
        unsaved = true;
        if (mustSave || sinceSave.elapsed() >= 1000)
            save();
    }

    void save()
    {
        if (!unsaved || failed)
            return;
        failed = !saveConfigOrTell(state, window);
        unsaved = false;
        sinceSave.restart();
    }

private:
    const LauncherState &state;
    QWidget *window;
    QElapsedTimer sinceSave;
    bool unsaved = false;
    bool failed = false;
};

// The server's installed files that its release publishes in chunks: a new
// or changed file may share chunks with them.
std::vector<QByteArray> installedChunkedFiles(const ServerEntry &server)
{
    std::vector<QByteArray> paths;
    for (const auto &[name, file] : server.files) {
        if (!file.installedVersion.isEmpty() && !file.check.chunkIndexSha256.isEmpty() &&
            isSafeRelativeName(name))
            paths.push_back("clientes/" + name);
    }
    return paths;
}

} // namespace

void ServerButtons::refresh()
{
    for (auto &[id, server] : context.state->servers) {
        auto *button = context.form->frame_buttons->findChild<QPushButton *>(
            QStringLiteral("button_server_%1").arg(server.id));
        if (!button)
            continue; // ids outside 1 to 6 have no button
        button->setText(PlayerText::serverCaption(server.name, LauncherState::serverStatus(server)));
        button->setEnabled(true);
    }
}

void ServerButtons::act(quint16 id)
{
    const auto held = context.state->servers.find(id);
    if (held == context.state->servers.end())
        return;
    ServerEntry &server = held->second;
    const std::map<QByteArray, FileEntry *> pending = LauncherState::pendingFiles(server);

    if (pending.empty()) {
        if (isSafeRelativeName(server.executable))
            platform().startProgram("clientes", server.executable, std::nullopt);
        else
            showRefusedNameMessage(context.window, server.executable);
        return;
    }

    context.form->frame_buttons->setEnabled(false);
    qint64 neededBytes = 0;
    for (const auto &[name, file] : pending)
        neededBytes = addBytes(neededBytes, file->check);
    if (!enoughDiskSpace(context.window, "clientes", neededBytes)) {
        context.form->frame_buttons->setEnabled(true);
        return;
    }

    // Each file is recorded as it commits, so that a failure or a kill later in the
    // install neither fetches it nor runs its action again. config.xml is saved
    // at once after an action, else at most once a second and at the end.
    std::vector<FetchItem> items;
    std::vector<FileEntry *> files;
    for (const auto &[name, file] : pending) {
        items.push_back({file->name, "clientes/" + file->name, file->check});
        files.push_back(file);
    }
    ConfigRecorder recorder(*context.state, context.window);
    const auto runActionAndRecord = [&](std::size_t index) {
        FileEntry *file = files[index];
        const bool actionRan = file->function == "exec" || !file->cmd.isEmpty();
        if (file->function == "exec")
            platform().startProgram("clientes", file->name, file->value);
        if (!file->cmd.isEmpty())
            platform().runCommandLine(file->cmd);
        LauncherState::markInstalled(*file);
        recorder.changed(actionRan);
    };
    FileDownloader downloader;
    downloader.progressBar = context.form->action_progressBar;
    downloader.statusLabel = context.form->label_status;
    const FetchResult result =
        fetchFiles(downloader, context.state->downloadBases(), "clientes/", items, server.name.constData(),
                   runActionAndRecord, nullptr, installedChunkedFiles(server));
    if (result != FetchResult::Stored) {
        // A cancel comes from a closing window: no box.
        if (result == FetchResult::Failed)
            showErrorMessage(context.window, PlayerText::clientFileFailed);
        recorder.save();
        context.form->frame_buttons->setEnabled(true);
        return;
    }

    recorder.save();
    refresh();
    context.form->frame_buttons->setEnabled(true);
}
