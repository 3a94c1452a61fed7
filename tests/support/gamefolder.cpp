#include "gamefolder.h"

#include <QDir>
#include <QFile>

#include <stdexcept>

TemporaryGameFolder::TemporaryGameFolder() : previousWorkingDirectory(QDir::currentPath())
{
    if (!folder.isValid() || !QDir::setCurrent(folder.path()))
        throw std::runtime_error("cannot enter a temporary game folder");
}

TemporaryGameFolder::~TemporaryGameFolder()
{
    QDir::setCurrent(previousWorkingDirectory);
}

QByteArray readFileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return file.readAll();
}

void writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}
