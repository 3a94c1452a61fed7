#include "windowscommands.h"

#include "names.h"

namespace {

std::optional<QByteArray> quoted(const QByteArray &name)
{
    if (!canBeQuotedForWindowsShell(name))
        return std::nullopt;
    return '"' + name + '"';
}

} // namespace

std::optional<QByteArray> windowsCopyCommand(const QByteArray &source, const QByteArray &target)
{
    const std::optional<QByteArray> from = quoted(source);
    const std::optional<QByteArray> to = quoted(target);
    if (!from || !to)
        return std::nullopt;
    return "copy /Y " + *from + ' ' + *to;
}

std::optional<QByteArray> windowsStartCommand(const QByteArray &folder, const QByteArray &program,
                                              const std::optional<QByteArray> &argumentText)
{
    const std::optional<QByteArray> quotedFolder = quoted(folder);
    const std::optional<QByteArray> quotedProgram = quoted(program);
    if (!quotedFolder || !quotedProgram || (argumentText && !isSafeForWindowsShell(*argumentText)))
        return std::nullopt;

    QByteArray command;
    if (!folder.isEmpty())
        command = "cd " + *quotedFolder + " && ";
    // The empty title keeps start from taking the quoted name for one.
    command += "start \"\" " + *quotedProgram;
    if (argumentText)
        command += ' ' + *argumentText;
    return command;
}

std::optional<QByteArray> windowsLauncherCommand(const QByteArray &program, const QByteArray &option)
{
    const std::optional<QByteArray> quotedProgram = quoted(program);
    if (!quotedProgram || !isSafeForWindowsShell(option))
        return std::nullopt;
    return option.isEmpty() ? *quotedProgram : *quotedProgram + ' ' + option;
}
