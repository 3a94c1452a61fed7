// The Windows command interpreter and WinExec, as the launcher has always used
// them, with every name quoted. Names that cannot be quoted are refused.

#include "systemplatform.h"

#include "messages.h"
#include "windowscommands.h"

#include <windows.h>

namespace {

bool refuseUnsafeName(const QByteArray &name)
{
    consoleMessage(QByteArray("Comando recusado, nome inseguro: " + name).constData());
    return false;
}

} // namespace

bool SystemPlatform::copyFile(const QByteArray &source, const QByteArray &target)
{
    const std::optional<QByteArray> command = windowsCopyCommand(source, target);
    if (!command)
        return refuseUnsafeName(source + ' ' + target);
    return runThroughShell(*command) == 0;
}

bool SystemPlatform::startProgram(const QByteArray &folder, const QByteArray &program,
                                  const std::optional<QByteArray> &argumentText)
{
    const std::optional<QByteArray> command = windowsStartCommand(folder, program, argumentText);
    if (!command)
        return refuseUnsafeName(program + ' ' + argumentText.value_or(QByteArray()));
    // "start" returns at once; the interpreter's status only says it ran.
    return runThroughShell(*command) == 0;
}

bool SystemPlatform::startLauncher(const QByteArray &program, const QByteArray &option)
{
    const std::optional<QByteArray> command = windowsLauncherCommand(program, option);
    if (!command)
        return refuseUnsafeName(program + ' ' + option);
    return WinExec(command->constData(), SW_SHOW) > 31;
}
