#include "transfer/folderfile.h"

#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool openRegularFile(QFile &file, QIODevice::OpenMode mode)
{
#ifdef Q_OS_WIN
    // No FIFO can stand in a Windows folder; a link or a junction can.
    const QFileInfo named(file.fileName());
    if (named.isSymLink() || named.isJunction() || (named.exists() && !named.isFile()))
        return false;
    return file.open(mode);
#else
    int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    if (mode & QIODevice::WriteOnly)
        flags |= (mode & QIODevice::ReadOnly ? O_RDWR : O_WRONLY) | O_CREAT |
                 (mode & QIODevice::Append ? O_APPEND : 0);
    else
        flags |= O_RDONLY;
    const int descriptor = ::open(QFile::encodeName(file.fileName()).constData(), flags, 0666);
    if (descriptor < 0)
        return false;
    struct stat opened;
    // Regular files never block; the flag only mattered for opening.
    if (::fstat(descriptor, &opened) == 0 && S_ISREG(opened.st_mode) &&
        ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) == 0 &&
        file.open(descriptor, mode, QFileDevice::AutoCloseHandle))
        return true;
    ::close(descriptor);
    return false;
#endif
}
