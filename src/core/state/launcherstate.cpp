#include "state/launcherstate.h"

#include "buildconfig.h"

#include <algorithm>

LauncherState::LauncherState() : launcherInstalledVersion(buildSettings().launcherVersion) {}

std::vector<QByteArray> LauncherState::downloadBases() const
{
    std::vector<QByteArray> bases{downloadPath};
    bases.insert(bases.end(), mirrorPaths.begin(), mirrorPaths.end());
    return bases;
}

std::map<QByteArray, FileEntry *> LauncherState::pendingFiles(ServerEntry &server)
{
    std::map<QByteArray, FileEntry *> pending;
    for (auto &[name, file] : server.files) {
        if (!file.dropped && file.installedVersion != file.lastVersion)
            pending.emplace(file.name, &file);
    }
    return pending;
}

ServerStatus LauncherState::serverStatus(ServerEntry &server)
{
    const std::size_t pendingCount = pendingFiles(server).size();
    const auto listedCount = std::size_t(std::count_if(
        server.files.begin(), server.files.end(), [](const auto &file) { return !file.second.dropped; }));
    if (pendingCount == listedCount)
        return ServerStatus::Install;
    if (pendingCount > 0)
        return ServerStatus::Update;
    return ServerStatus::Play;
}
