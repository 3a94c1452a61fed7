// Programs start with an argument vector and no shell in between, so a name that
// holds spaces or shell syntax reaches the program as data and runs nothing else.

#include "systemplatform.h"

#include "launcherlog.h"
#include "transfer/partialfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

namespace {

// The program is always looked up below its folder, never on the search path.
QString programPathInFolder(const QByteArray &program)
{
    return QStringLiteral("./") + QFile::decodeName(program);
}

QString folderPath(const QByteArray &folder)
{
    return folder.isEmpty() ? QStringLiteral(".") : QFile::decodeName(folder);
}

// Files arrive from the update server without the right to run; on Windows any
// file can be started, so here starting one is what makes it a program. Only a
// file of the game folder: a link planted there may lead anywhere.
void makeRunnable(const QString &linkedPath)
{
    const QString path = QFileInfo(linkedPath).canonicalFilePath();
    if (path.isEmpty() || !path.startsWith(QDir::current().canonicalPath() + QLatin1Char('/')))
        return;
    const QFile::Permissions permissions = QFile::permissions(path);
    if (permissions & QFile::ExeOwner)
        return;
    QFile::Permissions runnable = permissions | QFile::ExeOwner;
    if (permissions & QFile::ReadGroup)
        runnable |= QFile::ExeGroup;
    if (permissions & QFile::ReadOther)
        runnable |= QFile::ExeOther;
    // The start that follows fails and is logged; why is logged here.
    if (!QFile::setPermissions(path, runnable))
        writeLogLine("Permissões não ajustadas: " + QFile::encodeName(path));
}

QStringList splitArguments(const std::optional<QByteArray> &argumentText)
{
    QStringList arguments;
    if (!argumentText)
        return arguments;
    for (const QByteArray &argument : argumentText->split(' ')) {
        if (!argument.isEmpty())
            arguments << QFile::decodeName(argument);
    }
    return arguments;
}

} // namespace

bool SystemPlatform::copyFile(const QByteArray &source, const QByteArray &target)
{
    QFile input(QFile::decodeName(source));
    if (!input.open(QIODevice::ReadOnly))
        return false;

    // The running launcher may be the target: a new file renamed over it replaces
    // it without touching the program text in use.
    const std::unique_ptr<PartialFile> output = PartialFile::create(target);
    if (!output)
        return false;
    char chunk[64 * 1024];
    qint64 count;
    while ((count = input.read(chunk, sizeof chunk)) > 0) {
        if (!output->write(chunk, std::size_t(count)))
            return false;
    }
    return count == 0 && QFile::setPermissions(QFile::decodeName(output->path()), input.permissions()) &&
           output->commit();
}

bool SystemPlatform::startProgram(const QByteArray &folder, const QByteArray &program,
                                  const std::optional<QByteArray> &argumentText)
{
    makeRunnable(folderPath(folder) + QLatin1Char('/') + QFile::decodeName(program));
    return QProcess::startDetached(programPathInFolder(program), splitArguments(argumentText),
                                   folderPath(folder));
}

bool SystemPlatform::startLauncher(const QByteArray &program, const QByteArray &option)
{
    return startProgram(QByteArray(), program, option.isEmpty() ? std::nullopt : std::optional(option));
}
