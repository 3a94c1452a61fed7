#include "partialfile.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
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

} // namespace

PartialFile::PartialFile(QByteArray targetPath, QByteArray partialPath, std::FILE *stream)
    : targetPath(std::move(targetPath)), partialPath(std::move(partialPath)), stream(stream)
{
}

PartialFile::~PartialFile()
{
    if (stream) {
        std::fclose(stream);
        std::remove(partialPath.constData());
    }
}

std::unique_ptr<PartialFile> PartialFile::create(const QByteArray &targetPath)
{
    QByteArray partialPath = targetPath + partialFileSuffix;
    std::FILE *stream = std::fopen(partialPath.constData(), "wb"); // truncates a crash's leftover
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
    const bool closed = std::fclose(stream) == 0;
    stream = nullptr;
    if (written && closed && renameOver(partialPath, targetPath))
        return true;
    std::remove(partialPath.constData());
    return false;
}

bool replaceFileContents(const QString &path, const QByteArray &contents)
{
    const std::unique_ptr<PartialFile> file = PartialFile::create(QFile::encodeName(path));
    return file && file->write(contents.constData(), std::size_t(contents.size())) && file->commit(true);
}
