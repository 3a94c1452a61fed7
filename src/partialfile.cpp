#include "partialfile.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

const char partialFileSuffix[] = ".~part";

namespace {

bool syncStreamToDisk(std::FILE *stream)
{
#ifdef Q_OS_WIN
    return _commit(_fileno(stream)) == 0;
#else
    return fsync(fileno(stream)) == 0;
#endif
}

bool renameOver(const QByteArray &from, const QByteArray &to)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<LPCWSTR>(QFile::decodeName(from).utf16()),
                       reinterpret_cast<LPCWSTR>(QFile::decodeName(to).utf16()),
                       MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.constData(), to.constData()) == 0;
#endif
}

#ifdef Q_OS_WIN

std::FILE *openPartial(const QByteArray &path)
{
    return std::fopen(path.constData(), "wb"); // truncates a crash's leftover
}

#else

// Two launchers in one game folder may write the same file at once; the one
// that holds the partial file's lock writes it, the other fails as if the file
// were in use. A leftover from a killed process has no lock and is truncated.
std::FILE *openPartial(const QByteArray &path)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int descriptor = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (descriptor < 0)
            return nullptr;
        if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            ::close(descriptor);
            return nullptr;
        }
        // The holder may have renamed the file into place just before the lock
        // was ours: then this is the target itself, not a partial file.
        struct stat opened, named;
        if (::fstat(descriptor, &opened) == 0 && ::stat(path.constData(), &named) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
            // A new file needs no truncation, and on ext4 a truncation makes the
            // close wait for the data to be written out.
            const bool empty = opened.st_size == 0 || ::ftruncate(descriptor, 0) == 0;
            std::FILE *stream = empty ? ::fdopen(descriptor, "wb") : nullptr;
            if (!stream)
                ::close(descriptor);
            return stream;
        }
        ::close(descriptor);
    }
    return nullptr;
}

#endif

// Windows replaces no read-only file; neither does the launcher elsewhere, so that
// a file the player protected is kept on every system.
bool isReadOnly(const QByteArray &targetPath)
{
#ifdef Q_OS_WIN
    Q_UNUSED(targetPath);
    return false;
#else
    struct stat target;
    return ::stat(targetPath.constData(), &target) == 0 && !(target.st_mode & S_IWUSR);
#endif
}

} // namespace

PartialFile::PartialFile(QByteArray targetPath, QByteArray partialPath, std::FILE *stream)
    : targetPath(std::move(targetPath)), partialPath(std::move(partialPath)), stream(stream)
{
}

PartialFile::~PartialFile()
{
    if (stream)
        discard();
}

// Removes the partial file; elsewhere than on Windows while it is still locked,
// so that no other writer's file can be taken for it.
void PartialFile::discard()
{
#ifdef Q_OS_WIN
    std::fclose(stream);
    std::remove(partialPath.constData());
#else
    std::remove(partialPath.constData());
    std::fclose(stream);
#endif
    stream = nullptr;
}

std::unique_ptr<PartialFile> PartialFile::create(const QByteArray &targetPath)
{
    if (isReadOnly(targetPath))
        return nullptr;
    QByteArray partialPath = targetPath + partialFileSuffix;
    std::FILE *stream = openPartial(partialPath);
    if (!stream)
        return nullptr;
    return std::unique_ptr<PartialFile>(new PartialFile(targetPath, std::move(partialPath), stream));
}

bool PartialFile::write(const char *data, std::size_t size)
{
    if (size > 0 && std::fwrite(data, 1, size, stream) != size)
        writeFailed = true;
    return !writeFailed;
}

bool PartialFile::commit(bool syncToDisk)
{
    bool written = !writeFailed && std::fflush(stream) == 0 && !std::ferror(stream);
    if (written && syncToDisk)
        written = syncStreamToDisk(stream);
    if (!written) {
        discard();
        return false;
    }
#ifdef Q_OS_WIN
    // Windows renames no open file.
    const bool closed = std::fclose(stream) == 0;
    stream = nullptr;
    if (closed && renameOver(partialPath, targetPath))
        return true;
    std::remove(partialPath.constData());
    return false;
#else
    // Renamed while still locked, so no other writer can open it in between.
    if (!renameOver(partialPath, targetPath)) {
        discard();
        return false;
    }
    std::fclose(stream);
    stream = nullptr;
    return true;
#endif
}

bool replaceFileContents(const QString &path, const QByteArray &contents)
{
    const std::unique_ptr<PartialFile> file = PartialFile::create(QFile::encodeName(path));
    return file && file->write(contents.constData(), std::size_t(contents.size())) && file->commit(true);
}
