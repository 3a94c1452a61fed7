#include "phaseplans.h"

#include "chunks/chunksurvey.h"
#include "names.h"
#include "platform/platform.h"
#include "playertexts.h"
#include "state/configsteps.h"
#include "state/launcherstate.h"

#include "transfer/transferengine.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <memory>

namespace {

// Saves the versions an install records without a save of config.xml per file
// of a large client. After a save that failed, the player has been told once and
// no more saves are tried in this install.
class ConfigRecorder
{
public:
    ConfigRecorder(const LauncherState &state, QObject *boxParent) : state(state), boxParent(boxParent)
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
        failed = !saveConfigOrTell(state, boxParent);
        unsaved = false;
        sinceSave.restart();
    }

private:
    const LauncherState &state;
    QObject *boxParent;
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
            paths.push_back(clientsFolder + name);
    }
    return paths;
}

} // namespace

FetchPlan picturesPlan(LauncherState &state, QObject *boxParent)
{
    FetchPlan plan{"Imagem", "imagens", state.downloadBases(), picturesFolder, {}};
    for (const auto &[name, image] : state.images)
        plan.items.push_back({image.name, picturesFolder + image.name, image.check});
    // Until every picture is in place the version stays, and the next start
    // fetches them again.
    plan.onEnded = [&state, boxParent](const RunResult &result) {
        if (!result.succeeded())
            return;
        state.markImagesCurrent();
        saveConfigOrTell(state, boxParent);
    };
    return plan;
}

FetchPlan launcherPlan(const LauncherState &state)
{
    // The new build first, then its files, as the list names them.
    FetchPlan plan{"Launcher", ".", state.downloadBases(), "launcher/", {}};
    plan.items.push_back({"launcher.exe", "newLauncher.exe", state.launcherBuildCheck});
    for (const QByteArray &name : state.launcherFiles) {
        const auto check = state.launcherFileChecks.find(name);
        plan.items.push_back(
            {name, name, check == state.launcherFileChecks.end() ? ContentCheck() : check->second});
    }
    return plan;
}

FetchPlan installPlan(LauncherState &state, ServerEntry &server, QObject *boxParent)
{
    FetchPlan plan{server.name, "clientes", state.downloadBases(), clientsFolder, {}};
    plan.chunkSources = installedChunkedFiles(server);
    plan.failureTold = PlayerText::clientFileFailed;
    plan.playerMayPause = true;
    std::vector<FileEntry *> files;
    for (const auto &[name, file] : LauncherState::pendingFiles(server)) {
        plan.items.push_back({file->name, clientsFolder + file->name, file->check});
        files.push_back(file);
    }
    const auto recorder = std::make_shared<ConfigRecorder>(state, boxParent);
    plan.onCommitted = [files, recorder](std::size_t index) {
        FileEntry *file = files[index];
        const bool actionRan = file->function == "exec" || !file->cmd.isEmpty();
        if (file->function == "exec")
            platform().startProgram("clientes", file->name, file->value);
        if (!file->cmd.isEmpty())
            platform().runCommandLine(file->cmd);
        LauncherState::markInstalled(*file);
        recorder->changed(actionRan);
    };
    plan.onEnded = [recorder](const RunResult &) { recorder->save(); };
    return plan;
}

ServerStatus buttonStatus(ServerEntry &server)
{
    const ServerStatus status = LauncherState::serverStatus(server);
    if (status == ServerStatus::Play)
        return status;
    const auto kept = [](const QByteArray &path) {
        return QFileInfo::exists(QFile::decodeName(TransferEngine::resumeRecordPath(path))) ||
               QFileInfo::exists(QFile::decodeName(ChunkSurvey::leftoverSource(path)));
    };
    // An install fetches its files in name order, a few dozen at a time, and
    // puts them in place in that order: what a stopped one kept lies among the
    // first due files. A client of a hundred thousand files is not looked at
    // file by file at every start.
    constexpr std::size_t firstDueFiles = 256;
    std::size_t looked = 0;
    for (const auto &[name, file] : LauncherState::pendingFiles(server)) {
        if (++looked > firstDueFiles)
            break;
        if (isSafeRelativeName(name) && kept(clientsFolder + name))
            return ServerStatus::Continue;
    }
    return status;
}

RunResult playServer(const ServerEntry &server)
{
    if (!isSafeRelativeName(server.executable))
        return RunResult::refusedName(server.executable);
    platform().startProgram("clientes", server.executable, std::nullopt);
    return RunResult();
}

std::vector<InstalledFile> installedFiles(const ServerEntry &server)
{
    std::vector<InstalledFile> installed;
    for (const auto &[name, file] : server.files) {
        if (!file.installedVersion.isEmpty() && !file.dropped && isSafeRelativeName(name))
            installed.push_back({clientsFolder + name, file.check});
    }
    return installed;
}

FetchPlan repairPlan(const LauncherState &state, const ServerEntry &server,
                     const std::vector<InstalledFile> &installed, const std::vector<bool> &damaged)
{
    FetchPlan plan{QByteArray(), "clientes", state.downloadBases(), clientsFolder, {}};
    plan.failureTold = PlayerText::clientFileFailed;
    plan.playerMayPause = true;
    for (std::size_t at = 0; at < installed.size(); ++at) {
        if (damaged[at])
            plan.items.push_back(
                {installed[at].path.mid(clientsFolder.size()), installed[at].path, installed[at].expected});
    }
    plan.shownName =
        PlayerText::repairSummary(server.name, plan.items.size(), (plan.bytes() + (1 << 20) - 1) >> 20)
            .toUtf8();
    return plan;
}
