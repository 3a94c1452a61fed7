#include "buildconfig.h"
#include "fontsubstitutes.h"
#include "launcherlog.h"
#include "mainwindow.h"
#include "messageboxes.h"
#include "names.h"
#include "singleinstanceguard.h"
#include "updatemode.h"

#include <QApplication>

int main(int argc, char **argv)
{
    useUtf8FileNames();
    if (hasUpdateOption(argc, argv)) {
        writeLogLine("Início da atualização do launcher " + buildSettings().launcherVersion);
        return runUpdateMode();
    }
    writeLogLine("Início do launcher " + buildSettings().launcherVersion);

    QApplication application(argc, argv);
    useMessageBoxes();
    useFontSubstitutes();

    MainWindow window;
    if (hasOption(argc, argv, selfUpdateFailedOption))
        window.noteFailedSelfUpdate();
    // Claimed only once the window is built: a second start builds its window too,
    // then leaves without showing it.
    SingleInstanceGuard guard(buildSettings().guardKey);
    if (!guard.claim())
        return 0;

    window.show();
    return application.exec();
}
