#include "platformrecorder.h"

#include <QFile>

PlatformRecorder::PlatformRecorder() : previous(setPlatform(this)) {}

PlatformRecorder::~PlatformRecorder()
{
    setPlatform(previous);
}

bool PlatformRecorder::copyFile(const QByteArray &source, const QByteArray &target)
{
    record("copy " + source + ' ' + target);
    return true;
}

bool PlatformRecorder::startProgram(const QByteArray &folder, const QByteArray &program,
                                    const std::optional<QByteArray> &argumentText)
{
    QByteArray call = "start " + folder + '|' + program;
    if (argumentText)
        call += '|' + *argumentText;
    record(call);
    return true;
}

bool PlatformRecorder::startLauncher(const QByteArray &program, const QByteArray &option)
{
    record("launcher " + program + (option.isEmpty() ? QByteArray() : ' ' + option));
    return true;
}

void PlatformRecorder::runCommandLine(const QByteArray &commandLine)
{
    record("run " + commandLine);
}

void PlatformRecorder::record(const QByteArray &call)
{
    calls << call;
    QFile config(QStringLiteral("config.xml"));
    configs << (config.open(QIODevice::ReadOnly) ? config.readAll() : QByteArray());
}
