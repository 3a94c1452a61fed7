#pragma once

#include "chunks/installcheck.h"
#include "fetchplan.h"

class LauncherState;
class QObject;
struct ServerEntry;
enum class ServerStatus;

// The fetch plans of the phases the window runs, built from the state. Boxes
// that committing may need (a config.xml that cannot be saved) have boxParent.

// The carousel's pictures; once all are in place they are current in config.xml.
FetchPlan picturesPlan(LauncherState &state, QObject *boxParent);

// The new launcher build as "newLauncher.exe", then the launcher's files.
FetchPlan launcherPlan(const LauncherState &state);

// A server's files that are not current, in name order. Each is recorded as it
// is put in place, so that a failure or a kill later neither fetches it nor runs
// its action again; config.xml is saved at once after an action, else at most
// once a second and when the install ends.
FetchPlan installPlan(LauncherState &state, ServerEntry &server, QObject *boxParent);

// What a click on the server's button does: its status in the state, or
// Continue where a download of its due files stopped with bytes kept on disk
// (a pause before the window closed, a crash, a power cut).
ServerStatus buttonStatus(ServerEntry &server);

// Starts the server's program, unless its name is one the launcher refuses.
RunResult playServer(const ServerEntry &server);

// The server's installed files whose soundness a repair checks.
std::vector<InstalledFile> installedFiles(const ServerEntry &server);
// Those of installed that damaged marks, fetched again; shownName says how many
// files and megabytes.
FetchPlan repairPlan(const LauncherState &state, const ServerEntry &server,
                     const std::vector<InstalledFile> &installed, const std::vector<bool> &damaged);
