#include "launcherstate.h"

#include "buildconfig.h"

LauncherState::LauncherState(QWidget *window)
    : launcherInstalledVersion(buildSettings().launcherVersion), window(window)
{
}

std::map<QByteArray, FileEntry *> LauncherState::pendingFiles(ServerEntry &server)
{
    std::map<QByteArray, FileEntry *> pending;
    for (auto &[name, file] : server.files) {
        if (file.installedVersion != file.lastVersion)
            pending.emplace(file.name, &file);
    }
    return pending;
}

ServerStatus LauncherState::serverStatus(ServerEntry &server)
{
    const std::size_t pendingCount = pendingFiles(server).size();
    if (pendingCount == server.files.size())
        return ServerStatus::Install;
    if (pendingCount > 0)
        return ServerStatus::Update;
    return ServerStatus::Play;
}
