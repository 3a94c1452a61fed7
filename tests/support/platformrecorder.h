#pragma once

#include "platform/platform.h"

#include <QByteArrayList>
#include <QFile>

// Records what the launcher asks of the operating system instead of doing it, for
// as long as the object lives, each call as one readable line.
class PlatformRecorder : public Platform
{
public:
    PlatformRecorder() : previous(setPlatform(this)) {}
    ~PlatformRecorder() override { setPlatform(previous); }
    PlatformRecorder(const PlatformRecorder &) = delete;
    PlatformRecorder &operator=(const PlatformRecorder &) = delete;

    bool copyFile(const QByteArray &source, const QByteArray &target) override
    {
        return record("copy " + source + ' ' + target);
    }
    // "start FOLDER|PROGRAM", with "|ARGUMENTS" when there are any
    bool startProgram(const QByteArray &folder, const QByteArray &program,
                      const std::optional<QByteArray> &argumentText) override
    {
        return record("start " + folder + '|' + program +
                      (argumentText ? '|' + *argumentText : QByteArray())) &&
               !unstartable.contains(program);
    }
    bool startLauncher(const QByteArray &program, const QByteArray &option) override
    {
        return record("launcher " + program + (option.isEmpty() ? QByteArray() : ' ' + option));
    }
    void runCommandLine(const QByteArray &commandLine) override { record("run " + commandLine); }

    QByteArrayList calls;
    QByteArrayList unstartable; // programs whose start fails
    QByteArrayList configs;     // config.xml as each call found it

private:
    bool record(const QByteArray &call)
    {
        calls << call;
        QFile config(QStringLiteral("config.xml"));
        configs << (config.open(QIODevice::ReadOnly) ? config.readAll() : QByteArray());
        return true;
    }

    Platform *previous;
};
