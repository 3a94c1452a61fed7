#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <memory>

// A file being written beside its target, under the target's name plus
// partialFileSuffix. The target is replaced by a rename only on commit(); a
// partial file that is destroyed uncommitted is removed, so a failed or
// interrupted write never touches the target. A partial file that a crash left
// behind is removed by the next fresh write of the same target, or continued by
// reopen() where its download can be resumed.
class PartialFile
{
public:
    ~PartialFile();
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    // Null when the partial file cannot be created (a missing folder, no rights,
    // another process writing the same target), the target is read-only, or a
    // folder on its way is a link. Whatever stood at the partial file's path, a
    // link included, is replaced, never written through. With ownerOnly the file
    // is readable by its owner alone from the moment it exists.
    static std::unique_ptr<PartialFile> create(const QByteArray &targetPath, bool ownerOnly = false);

    // The partial file an earlier write left behind, open at its end so that the
    // write continues it. Null when there is none, it is not a plain file (a link
    // is never followed), another process writes it, or the target may not be
    // replaced.
    static std::unique_ptr<PartialFile> reopen(const QByteArray &targetPath);

    // Renames a partial file that finish() completed over its target.
    static bool commitFinished(const QByteArray &targetPath);

    bool write(const char *data, std::size_t size);

    // Flushes and closes the file and renames it over the target. With
    // syncToDisk the content reaches the disk before the rename, so that not even
    // a power cut can leave an empty target.
    bool commit(bool syncToDisk = false);

    // Empties the file, for a write that has to start again from its first byte.
    bool truncate();

    // Flushes and closes the complete file and leaves it beside the target, for a
    // commitFinished() later: files fetched side by side are put in place in order.
    bool finish();

    // Closes the file and leaves it on disk, for a download to be resumed later.
    void keep();

    const QByteArray &path() const { return partialPath; }
    qint64 size() const { return bytesWritten; }

private:
    PartialFile(QByteArray targetPath, QByteArray partialPath, std::FILE *stream);
    void discard();

    QByteArray targetPath;
    QByteArray partialPath;
    std::FILE *stream;
    qint64 bytesWritten = 0;
    qint64 writtenBack = 0; // what the system was asked to write out already
    bool writeFailed = false;
    bool replacesTarget; // a file stood there when this one began
};

extern const char partialFileSuffix[];

// Replaces the file at path with contents, durably and all at once: a crash or a
// full disk never leaves a partial file behind. False when the file could not be
// replaced; the old one is then untouched.
bool replaceFileContents(const QString &path, const QByteArray &contents, bool ownerOnly = false);
