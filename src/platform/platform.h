#pragma once

#include <QByteArray>

#include <optional>

// The launcher's few dealings with the operating system: starting programs,
// copying its new build into place and running an operator's command line. Names
// are handed over as single arguments and never reach a shell; only the
// operator's command line is a command line by design.
class Platform
{
public:
    virtual ~Platform() = default;

    // Replaces target with a copy of source, keeping the source's permissions.
    virtual bool copyFile(const QByteArray &source, const QByteArray &target) = 0;

    // Starts program, a path below folder (empty: the working directory), in that
    // folder without waiting for it. The argument text is split at spaces into
    // arguments; with no text, the program gets no arguments at all.
    virtual bool startProgram(const QByteArray &folder, const QByteArray &program,
                              const std::optional<QByteArray> &argumentText) = 0;

    // Starts the installed launcher in the working directory, with the one option
    // given or, when it is empty, without arguments.
    virtual bool startLauncher(const QByteArray &program, const QByteArray &option) = 0;

    // Runs an operator's command line through the command shell and waits for it.
    virtual void runCommandLine(const QByteArray &commandLine) = 0;
};

// The platform in use: the operating system's own unless a test installed another.
Platform &platform();

// Installs a replacement (not owned) and returns the previous one; null restores
// the operating system's.
Platform *setPlatform(Platform *replacement);
