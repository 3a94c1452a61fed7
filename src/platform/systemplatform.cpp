#include "systemplatform.h"

#include "messages.h"

#include <cstdlib>

void SystemPlatform::runCommandLine(const QByteArray &commandLine)
{
    // std::system hands the line to the command shell and waits for it to end.
    if (std::system(commandLine.constData()) != 0)
        consoleMessage(QByteArray("Comando terminou com erro: " + commandLine).constData());
}
