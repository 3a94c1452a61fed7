#include "transfer/partialfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <thread>
#else
#include <cerrno>
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

#ifdef Q_OS_WIN

// Every name reaches Windows whole, in UTF-16: the C library's narrow names would
// lose what the system's code page cannot spell. A path of MAX_PATH characters or
// more is given in the long form that Windows takes beyond that limit: absolute,
// with backslashes, after \\?\ (or \\?\UNC\ for a network share).
std::wstring widePath(const QByteArray &path)
{
    const QString name = QFile::decodeName(path);
    const QString absolute = QDir::cleanPath(QFileInfo(name).absoluteFilePath());
    if (absolute.size() < MAX_PATH - 12) // a folder's own limit is 12 less
        return name.toStdWString();
    const QString native = QDir::toNativeSeparators(absolute);
    return (native.startsWith(QLatin1String("\\\\")) ? QLatin1String("\\\\?\\UNC\\") + native.mid(2)
                                                     : QLatin1String("\\\\?\\") + native)
        .toStdWString();
}

bool removeFile(const QByteArray &path)
{
    return DeleteFileW(widePath(path).c_str()) != 0;
}

// An antivirus, an indexer or a backup opens a fresh file for a moment, and
// Windows renames nothing over a file that another program holds: the rename is
// tried again for a while before it counts as failed.
bool renameOver(const QByteArray &from, const QByteArray &to)
{
    const std::wstring source = widePath(from), target = widePath(to);
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
            return true;
        const DWORD error = GetLastError(), found = GetFileAttributesW(target.c_str());
        // Denied is also what a folder or a read-only file answers, for good.
        const bool heldByAnother = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                                   (error == ERROR_ACCESS_DENIED && found != INVALID_FILE_ATTRIBUTES &&
                                    !(found & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)));
        if (!heldByAnother || attempt == 60)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool isLinkOrJunction(const QByteArray &path)
{
    const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A C stream on a handle that CreateFileW opened; null, with the handle closed,
// when anything fails.
std::FILE *streamOn(HANDLE handle, const char *mode)
{
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE *stream = _fdopen(descriptor, mode);
    if (!stream)
        _close(descriptor);
    return stream;
}

// Created afresh: a leftover, or a link planted in its place, is removed first
// (the link itself, never its target), then the file is made here and now, never
// opened if anything stands at its path. Others may read it while it is written,
// but no other writer, another launcher included, may open it: that writer fails
// as if the file were in use.
std::FILE *openPartial(const QByteArray &path, bool ownerOnly)
{
    Q_UNUSED(ownerOnly); // the folder's permissions hold on Windows
    removeFile(path);
    return streamOn(CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr),
                    "wb");
}

// The file left by an earlier write, shared as a new one would be; never a link
// or a junction, nor what one leads to.
std::FILE *reopenPartial(const QByteArray &path)
{
    const HANDLE handle = CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION opened;
    if (handle != INVALID_HANDLE_VALUE &&
        (!GetFileInformationByHandle(handle, &opened) ||
         (opened.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))) {
        CloseHandle(handle);
        return nullptr;
    }
    return streamOn(handle, "r+b");
}

#else

bool removeFile(const QByteArray &path)
{
    return std::remove(path.constData()) == 0;
}

bool renameOver(const QByteArray &from, const QByteArray &to)
{
    return std::rename(from.constData(), to.constData()) == 0;
}

bool isLinkOrJunction(const QByteArray &path)
{
    struct stat named;
    return ::lstat(path.constData(), &named) == 0 && S_ISLNK(named.st_mode);
}

// Whatever stands at the partial file's path before it is created: a leftover
// of a killed launcher (no lock) or a link is removed, the link itself and never
// its target. A file another launcher is writing holds its lock and is kept:
// false, as if it were in use.
bool removeLeftover(const QByteArray &path)
{
    struct stat named;
    if (::lstat(path.constData(), &named) != 0)
        return errno == ENOENT;
    if (!S_ISREG(named.st_mode))
        return ::unlink(path.constData()) == 0;
    const int descriptor = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return errno == ENOENT;
    bool removable = ::flock(descriptor, LOCK_EX | LOCK_NB) == 0;
    // The writer may have renamed it into place just before the lock was ours:
    // then the path names the target, or nothing, and only a new try is due.
    struct stat opened;
    if (removable && ::fstat(descriptor, &opened) == 0 && ::lstat(path.constData(), &named) == 0 &&
        opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
        removable = ::unlink(path.constData()) == 0;
    ::close(descriptor);
    return removable;
}

// Two launchers in one game folder may write the same file at once; the one that
// created and locked the partial file writes it, the other fails as if the file
// were in use. The file is always created anew, never opened through a link.
std::FILE *openPartial(const QByteArray &path, bool ownerOnly)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int descriptor = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                      ownerOnly ? 0600 : 0666);
        if (descriptor >= 0) {
            std::FILE *stream =
                ::flock(descriptor, LOCK_EX | LOCK_NB) == 0 ? ::fdopen(descriptor, "wb") : nullptr;
            if (!stream)
                ::close(descriptor);
            return stream;
        }
        if (errno != EEXIST || !removeLeftover(path))
            return nullptr;
    }
    return nullptr;
}

// The file left by an earlier write, locked as a new one would be; never a link.
std::FILE *reopenPartial(const QByteArray &path)
{
    const int descriptor = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    struct stat opened;
    std::FILE *stream = ::fstat(descriptor, &opened) == 0 && S_ISREG(opened.st_mode) &&
                                ::flock(descriptor, LOCK_EX | LOCK_NB) == 0
                            ? ::fdopen(descriptor, "r+b")
                            : nullptr;
    if (!stream)
        ::close(descriptor);
    return stream;
}

#endif

// A folder on the way to the target that is a link or a junction would lead the
// write out of the game folder. The launcher's paths are relative to the game
// folder, which itself may lie anywhere.
bool passesThroughLink(const QByteArray &targetPath)
{
    if (QDir::isAbsolutePath(QFile::decodeName(targetPath)))
        return false;
    for (int at = 1; at < targetPath.size(); ++at) {
        if ((targetPath.at(at) == '/' || targetPath.at(at) == '\\') && isLinkOrJunction(targetPath.left(at)))
            return true;
    }
    return false;
}

// Windows replaces no read-only file; neither does the launcher elsewhere, so that
// a file the player protected is kept on every system.
bool isReadOnly(const QByteArray &targetPath)
{
#ifdef Q_OS_WIN
    const DWORD attributes = GetFileAttributesW(widePath(targetPath).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
#else
    struct stat target;
    return ::stat(targetPath.constData(), &target) == 0 && !(target.st_mode & S_IWUSR);
#endif
}

} // namespace

PartialFile::PartialFile(QByteArray targetPath, QByteArray partialPath, std::FILE *stream)
    : targetPath(std::move(targetPath)), partialPath(std::move(partialPath)), stream(stream),
      replacesTarget(QFileInfo(QFile::decodeName(this->targetPath)).isFile())
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
    removeFile(partialPath);
#else
    removeFile(partialPath);
    std::fclose(stream);
#endif
    stream = nullptr;
}

std::unique_ptr<PartialFile> PartialFile::create(const QByteArray &targetPath, bool ownerOnly)
{
    if (isReadOnly(targetPath) || passesThroughLink(targetPath))
        return nullptr;
    QByteArray partialPath = targetPath + partialFileSuffix;
    std::FILE *stream = openPartial(partialPath, ownerOnly);
    if (!stream)
        return nullptr;
    return std::unique_ptr<PartialFile>(new PartialFile(targetPath, std::move(partialPath), stream));
}

std::unique_ptr<PartialFile> PartialFile::reopen(const QByteArray &targetPath)
{
    if (isReadOnly(targetPath) || passesThroughLink(targetPath))
        return nullptr;
    QByteArray partialPath = targetPath + partialFileSuffix;
    std::FILE *stream = reopenPartial(partialPath);
    if (!stream)
        return nullptr;
    std::unique_ptr<PartialFile> file(new PartialFile(targetPath, std::move(partialPath), stream));
    if (std::fseek(stream, 0, SEEK_END) != 0 || (file->bytesWritten = std::ftell(stream)) < 0)
        return nullptr;
    return file;
}

bool PartialFile::commitFinished(const QByteArray &targetPath)
{
    return !isReadOnly(targetPath) && renameOver(targetPath + partialFileSuffix, targetPath);
}

bool PartialFile::write(const char *data, std::size_t size)
{
    if (size > 0 && std::fwrite(data, 1, size, stream) != size)
        writeFailed = true;
    bytesWritten += qint64(size);
#ifdef Q_OS_LINUX
    // ext4 writes a file out before a rename over an existing one, which held up
    // the commit of an updated gigabyte for most of a second: begun as the file
    // grows, that writing overlaps the rest of the work. Only begun: nothing
    // waits here. A new file is left to the system, which writes it out later.
    constexpr qint64 writeBackStep = 16 << 20;
    if (replacesTarget && !writeFailed && bytesWritten - writtenBack >= writeBackStep &&
        std::fflush(stream) == 0) {
        ::sync_file_range(fileno(stream), writtenBack, bytesWritten - writtenBack, SYNC_FILE_RANGE_WRITE);
        writtenBack = bytesWritten;
    }
#endif
    return !writeFailed;
}

bool PartialFile::truncate()
{
    bytesWritten = writtenBack = 0;
    writeFailed = std::fflush(stream) != 0 || std::fseek(stream, 0, SEEK_SET) != 0;
#ifdef Q_OS_WIN
    writeFailed = writeFailed || _chsize_s(_fileno(stream), 0) != 0;
#else
    writeFailed = writeFailed || ::ftruncate(fileno(stream), 0) != 0;
#endif
    return !writeFailed;
}

bool PartialFile::finish()
{
    const bool written = !writeFailed && std::fflush(stream) == 0 && !std::ferror(stream);
    if (!written) {
        discard();
        return false;
    }
    const bool closed = std::fclose(stream) == 0;
    stream = nullptr;
    if (!closed)
        removeFile(partialPath);
    return closed;
}

void PartialFile::keep()
{
    std::fclose(stream);
    stream = nullptr;
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
    removeFile(partialPath);
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

bool replaceFileContents(const QString &path, const QByteArray &contents, bool ownerOnly)
{
    const std::unique_ptr<PartialFile> file = PartialFile::create(QFile::encodeName(path), ownerOnly);
    return file && file->write(contents.constData(), std::size_t(contents.size())) && file->commit(true);
}
