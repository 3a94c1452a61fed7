#pragma once

#include "platform.h"

// The operating system's half of the platform: the Windows command interpreter and
// WinExec on Windows, direct process starts with an argument vector elsewhere.
class SystemPlatform : public Platform
{
public:
    bool copyFile(const QByteArray &source, const QByteArray &target) override;
    bool startProgram(const QByteArray &folder, const QByteArray &program,
                      const std::optional<QByteArray> &argumentText) override;
    bool startLauncher(const QByteArray &program, const QByteArray &option) override;
    void runCommandLine(const QByteArray &commandLine) override;
};

// Hands a command line to the system's command shell and waits for it; its status.
// On Windows the line reaches cmd.exe in UTF-16, whole, whatever the names in it.
int runThroughShell(const QByteArray &commandLine);
