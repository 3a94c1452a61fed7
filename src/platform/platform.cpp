#include "platform.h"

#include "launcherlog.h"
#include "systemplatform.h"

namespace {

Platform *&installedPlatform()
{
    static Platform *replacement = nullptr;
    return replacement;
}

Platform &inUse()
{
    if (installedPlatform())
        return *installedPlatform();
    static SystemPlatform system;
    return system;
}

// Every dealing with the system, whichever platform does it, goes to the log.
class LoggedPlatform : public Platform
{
public:
    bool copyFile(const QByteArray &source, const QByteArray &target) override
    {
        const bool copied = inUse().copyFile(source, target);
        writeLogLine("Copiar " + source + " para " + target + (copied ? ": feito" : ": falhou"));
        return copied;
    }

    bool startProgram(const QByteArray &folder, const QByteArray &program,
                      const std::optional<QByteArray> &argumentText) override
    {
        const bool started = inUse().startProgram(folder, program, argumentText);
        writeLogLine("Executar " + folder + (folder.isEmpty() ? "" : "/") + program +
                     (argumentText ? " " + *argumentText : QByteArray()) +
                     (started ? ": iniciado" : ": falhou"));
        return started;
    }

    bool startLauncher(const QByteArray &program, const QByteArray &option) override
    {
        const bool started = inUse().startLauncher(program, option);
        writeLogLine("Reiniciar " + program + (option.isEmpty() ? "" : " ") + option +
                     (started ? ": iniciado" : ": falhou"));
        return started;
    }

    void runCommandLine(const QByteArray &commandLine) override
    {
        writeLogLine("Comando " + commandLine);
        inUse().runCommandLine(commandLine);
    }
};

} // namespace

Platform &platform()
{
    static LoggedPlatform logged;
    return logged;
}

Platform *setPlatform(Platform *replacement)
{
    Platform *previous = installedPlatform();
    installedPlatform() = replacement;
    return previous;
}
