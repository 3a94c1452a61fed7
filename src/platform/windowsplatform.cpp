// The Windows command interpreter and WinExec, as the launcher has always used
// them, with every name quoted. Names that cannot be quoted are refused.

#include "systemplatform.h"

#include "messages.h"
#include "windowscommands.h"

#include <QFile>
#include <QFileInfo>

#include <windows.h>

namespace {

bool refuseUnsafeName(const QByteArray &name)
{
    consoleMessage(QByteArray("Comando recusado, nome inseguro: " + name).constData());
    return false;
}

// The interpreter's start and WinExec look for a program that is not where it is
// named on the search path as well: a missing client or launcher would start
// whatever program of that name lies there. Only a file of its folder is started.
bool isInFolder(const QByteArray &folder, const QByteArray &program)
{
    return QFileInfo(QFile::decodeName(folder.isEmpty() ? program : folder + '/' + program)).isFile();
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
    if (!isInFolder(folder, program))
        return false;
    // "start" returns at once; the interpreter's status only says it ran.
    return runThroughShell(*command) == 0;
}

bool SystemPlatform::startLauncher(const QByteArray &program, const QByteArray &option)
{
    const std::optional<QByteArray> command = windowsLauncherCommand(program, option);
    if (!command)
        return refuseUnsafeName(program + ' ' + option);
    if (!isInFolder(QByteArray(), program))
        return false;
    return WinExec(command->constData(), SW_SHOW) > 31;
}
