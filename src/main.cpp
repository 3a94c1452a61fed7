#include "launcherstate.h"
#include "messageboxes.h"
#include "updatemode.h"

#include <QApplication>

int main(int argc, char **argv)
{
    if (hasUpdateOption(argc, argv))
        return runUpdateMode();

    QApplication application(argc, argv);
    useMessageBoxes();

    LauncherState state(nullptr);
    state.loadConfig();
    return 0;
}
