#include "updatemode.h"

#include "buildconfig.h"
#include "clock.h"
#include "state/configsteps.h"
#include "state/launcherstate.h"
#include "messages.h"
#include "platform/platform.h"
#include "launcherlog.h"
#include "processend.h"
#include "singleinstanceguard.h"

#include <QFile>

#include <chrono>
#include <cstring>
#include <thread>

const char selfUpdateFailedOption[] = "-update-failed";

namespace {

void sleepMs(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// The old launcher quits right after starting this process; its file can be
// replaced only once it has gone. It holds the one-launcher guard until it ends,
// so after the usual pause this waits for the guard to be free, for a while.
void waitForOldLauncherToQuit()
{
    const qint64 start = currentTimeMs();
    while (currentTimeMs() - start <= 2000)
        sleepMs(10);
    SingleInstanceGuard guard(buildSettings().guardKey);
    while (guard.otherInstanceRunning() && currentTimeMs() - start <= 10000)
        sleepMs(100);
}

// A launcher.exe held for a moment (by the old process's last steps, an antivirus)
// is tried again for a few seconds.
bool copyNewBuildIntoPlace()
{
    const qint64 start = currentTimeMs();
    while (!platform().copyFile("newLauncher.exe", "launcher.exe")) {
        if (currentTimeMs() - start > 4000)
            return false;
        sleepMs(250);
    }
    return true;
}

} // namespace

bool hasOption(int argc, char **argv, const char *option)
{
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0)
            return true;
    }
    return false;
}

bool hasUpdateOption(int argc, char **argv)
{
    return hasOption(argc, argv, "-update");
}

int runUpdateMode()
{
    waitForOldLauncherToQuit();
    consoleMessage("Atualizando");

    const bool copied = copyNewBuildIntoPlace();
    if (!copied)
        consoleMessage("Falha ao copiar newLauncher.exe sobre launcher.exe");

    // Without a window, a config.xml that cannot be read is reported on the debug
    // output and left as it is.
    LauncherState state;
    const bool configUsable = loadConfigAndTell(state, nullptr);

    // The version is recorded only when the new build is really in place. When it
    // is not, the launcher started next offers no update in its run, so that a
    // copy that keeps failing cannot loop; its next start tries again.
    bool committed = false;
    if (copied && configUsable) {
        state.markLauncherCurrent();
        committed = state.saveConfig();
    }

    platform().startLauncher("launcher.exe", committed ? QByteArray() : QByteArray(selfUpdateFailedOption));
    endProcess(1);
    return 1;
}

bool handOverToNewBuild()
{
    // Owner may write; everybody may read and run. Never writable by others, as
    // the launcher runs with administrator rights.
    constexpr QFile::Permissions launcherPermissions = QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                                                       QFile::ReadOther | QFile::ExeOther;
    for (const char *file : {"newLauncher.exe", "launcher.exe"}) {
        if (!QFile::setPermissions(QString::fromLatin1(file), launcherPermissions))
            writeLogLine(QByteArray("Permissões não ajustadas: ") + file);
    }
    // The new build waits for this process to end before it copies itself over
    // launcher.exe.
    if (!platform().startProgram(QByteArray(), "newLauncher.exe", QByteArray("-update")))
        return false;
    endProcess(1);
    return true;
}
