#pragma once

#include "platform/platform.h"

#include <QByteArrayList>

// Records what the launcher asks of the operating system instead of doing it, for
// as long as the object lives. Each call is kept as one readable line:
// "copy SOURCE TARGET", "start FOLDER|PROGRAM" with "|ARGUMENTS" when there are
// any, "launcher PROGRAM" with " OPTION" when there is one, "run COMMANDLINE".
class PlatformRecorder : public Platform
{
public:
    PlatformRecorder();
    ~PlatformRecorder() override;
    PlatformRecorder(const PlatformRecorder &) = delete;
    PlatformRecorder &operator=(const PlatformRecorder &) = delete;

    bool copyFile(const QByteArray &source, const QByteArray &target) override;
    bool startProgram(const QByteArray &folder, const QByteArray &program,
                      const std::optional<QByteArray> &argumentText) override;
    bool startLauncher(const QByteArray &program, const QByteArray &option) override;
    void runCommandLine(const QByteArray &commandLine) override;

    QByteArrayList calls;
    QByteArrayList configs; // config.xml as each call found it

private:
    void record(const QByteArray &call);

    Platform *previous;
};
