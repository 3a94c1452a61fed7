#include "updatemode.h"

#include "clock.h"
#include "launcherstate.h"
#include "messages.h"
#include "platform/platform.h"
#include "processend.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

// The old launcher quits right after starting this process; its file can be
// replaced only once it has gone.
void waitForOldLauncherToQuit()
{
    const qint64 start = currentTimeMs();
    while (currentTimeMs() - start <= 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

} // namespace

bool hasUpdateOption(int argc, char **argv)
{
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "-update") == 0)
            return true;
    }
    return false;
}

int runUpdateMode()
{
    waitForOldLauncherToQuit();
    consoleMessage("Atualizando");

    const bool copied = platform().copyFile("newLauncher.exe", "launcher.exe");

    // Without a window, a config.xml that cannot be read is reported on the debug
    // output and left as it is.
    LauncherState state(nullptr);
    const bool configUsable = state.loadConfig();

    // The version is recorded only when the new build is really in place, so that
    // a failed copy is offered again at the next start.
    if (copied && configUsable) {
        state.launcherInstalledVersion = state.launcherLastVersion;
        state.saveConfig();
    } else if (!copied) {
        consoleMessage("Falha ao copiar newLauncher.exe sobre launcher.exe");
    }

    platform().startLauncher("launcher.exe");
    endProcess(1);
    return 1;
}
