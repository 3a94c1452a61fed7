#include "windowscommands.h"

bool isSafeForWindowsShell(const QByteArray &text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return false;
        if (QByteArray("&|<>^\"%").contains(c))
            return false;
    }
    return true;
}

std::optional<QByteArray> windowsCopyCommand(const QByteArray &source, const QByteArray &target)
{
    if (!isSafeForWindowsShell(source) || !isSafeForWindowsShell(target))
        return std::nullopt;
    return QByteArray("copy /Y ") + source + ' ' + target;
}

std::optional<QByteArray> windowsStartCommand(const QByteArray &folder, const QByteArray &program,
                                              const std::optional<QByteArray> &argumentText)
{
    if (!isSafeForWindowsShell(folder) || !isSafeForWindowsShell(program))
        return std::nullopt;
    if (argumentText && !isSafeForWindowsShell(*argumentText))
        return std::nullopt;

    QByteArray command;
    if (!folder.isEmpty())
        command = "cd " + folder + " && ";
    command += "start " + program;
    if (argumentText)
        command += ' ' + *argumentText;
    return command;
}
