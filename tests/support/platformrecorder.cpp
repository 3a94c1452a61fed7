#include "platformrecorder.h"

PlatformRecorder::PlatformRecorder() : previous(setPlatform(this)) {}

PlatformRecorder::~PlatformRecorder()
{
    setPlatform(previous);
}

bool PlatformRecorder::copyFile(const QByteArray &source, const QByteArray &target)
{
    calls << "copy " + source + ' ' + target;
    return true;
}

bool PlatformRecorder::startProgram(const QByteArray &folder, const QByteArray &program,
                                    const std::optional<QByteArray> &argumentText)
{
    QByteArray call = "start " + folder + '|' + program;
    if (argumentText)
        call += '|' + *argumentText;
    calls << call;
    return true;
}

bool PlatformRecorder::startLauncher(const QByteArray &program, const QByteArray &option)
{
    calls << "launcher " + program + (option.isEmpty() ? QByteArray() : ' ' + option);
    return true;
}

void PlatformRecorder::runCommandLine(const QByteArray &commandLine)
{
    calls << "run " + commandLine;
}
