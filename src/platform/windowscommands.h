#pragma once

#include <QByteArray>

#include <optional>

// The command lines the launcher hands to the Windows command interpreter. A name
// or argument that the interpreter would read as syntax (& | < > ^ " %) or that
// holds a control character gives no command line at all.

// "copy /Y newLauncher.exe launcher.exe"
std::optional<QByteArray> windowsCopyCommand(const QByteArray &source, const QByteArray &target);

// "start newLauncher.exe -update", "cd clientes && start ZEV1.exe",
// "cd clientes && start patch.exe /quiet"
std::optional<QByteArray> windowsStartCommand(const QByteArray &folder, const QByteArray &program,
                                              const std::optional<QByteArray> &argumentText);

// True when text may be handed to the interpreter as plain data.
bool isSafeForWindowsShell(const QByteArray &text);
