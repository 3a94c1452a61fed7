#pragma once

#include <QByteArray>

#include <optional>

// The command lines the launcher hands to the Windows command interpreter. Every
// name is quoted, so that spaces and the interpreter's syntax in it stay part of
// the name; a name that cannot be quoted safely (a quote, a % or a control
// character) gives no command line at all. The argument text of an "exec" file is
// passed as written, and refused when the interpreter would read syntax in it
// (& | < > ^ " %) or it holds a control character.

// "copy /Y "newLauncher.exe" "launcher.exe""
std::optional<QByteArray> windowsCopyCommand(const QByteArray &source, const QByteArray &target);

// "start "" "newLauncher.exe" -update", "cd "clientes" && start "" "ZEV1.exe"",
// "cd "clientes" && start "" "patch.exe" /quiet"
std::optional<QByteArray> windowsStartCommand(const QByteArray &folder, const QByteArray &program,
                                              const std::optional<QByteArray> &argumentText);

// The launcher for WinExec: ""launcher.exe"", with " " and the option when given.
std::optional<QByteArray> windowsLauncherCommand(const QByteArray &program, const QByteArray &option);
