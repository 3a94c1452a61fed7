#include "systemplatform.h"

#include "messages.h"

#include <QString>

#include <cstdlib>

void SystemPlatform::runCommandLine(const QByteArray &commandLine)
{
    if (runThroughShell(commandLine) != 0)
        consoleMessage(QByteArray("Comando terminou com erro: " + commandLine).constData());
}

int runThroughShell(const QByteArray &commandLine)
{
#ifdef Q_OS_WIN
    return _wsystem(QString::fromUtf8(commandLine).toStdWString().c_str());
#else
    return std::system(commandLine.constData());
#endif
}
