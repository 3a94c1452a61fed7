// Before a file request starts: its target or its kept bytes are hashed, and a
// partial file left by an earlier try or run is continued where its record
// still holds.

#include "transfer/folderfile.h"
#include "transfer/transfer.h"

#include <QFileInfo>

namespace {

// Bytes hashed per run(), so that checking a large file keeps the window alive.
constexpr qint64 hashSliceBytes = 8 << 20;

// Beside the partial file NAME.~part: what its download began with.
const char resumeRecordSuffix[] = ".resume";

} // namespace

QByteArray resumeRecord(const TransferRequest &request, const QByteArray &validator)
{
    return request.url + '\n' + request.expected.size + '\n' + request.expected.sha256.toLower() + '\n' +
           validator + '\n';
}

QByteArray TransferEngine::resumeRecordPath(const QByteArray &localPath)
{
    return localPath + partialFileSuffix + resumeRecordSuffix;
}

// Before a file request starts: a target that already holds the expected bytes
// needs no transfer, and a partial file with its record is continued.
void TransferEngine::Transfer::prepare()
{
    if (!request.expected.size.isEmpty() && !request.expected.sha256.isEmpty()) {
        hashing = std::make_unique<QFile>(QFile::decodeName(request.localPath));
        if (openRegularFile(*hashing, QIODevice::ReadOnly) &&
            hashing->size() == request.expected.size.toLongLong()) {
            checkingTarget = true;
            return;
        }
        hashing.reset();
    }
    openPartialForResume();
}

void TransferEngine::Transfer::openPartialForResume()
{
    checkingTarget = false;
    hash.reset();
    resumeFrom = 0;
    const QString recordPath = QFile::decodeName(resumeRecordPath(request.localPath));
    QFile record(recordPath);
    if (!openRegularFile(record, QIODevice::ReadOnly)) {
        QFile::remove(recordPath); // whatever stands in its place, a link or a FIFO, is no record
        return;
    }
    const QByteArray recorded = record.read(64 * 1024);
    record.close();
    const QByteArray recordedValidator = recorded.split('\n').value(3);
    if (recordedValidator.isEmpty() || recorded != resumeRecord(request, recordedValidator) ||
        !(file = PartialFile::reopen(request.localPath))) {
        QFile::remove(recordPath);
        return; // the fresh partial file replaces whatever is left
    }
    // A file fetched whole but never put in place (a file before it failed) is
    // taken as it is once its hash agrees.
    const qint64 kept = file->size();
    const qint64 size = request.expected.size.isEmpty() ? -1 : request.expected.size.toLongLong();
    const bool usable =
        kept > 0 && (size < 0 || kept < size || (kept == size && !request.expected.sha256.isEmpty()));
    if (!usable) {
        discardPartialFile();
        return;
    }
    validator = recordedValidator;
    resumable = true;
    resumeFrom = kept;
    if (!request.expected.sha256.isEmpty()) {
        hashing = std::make_unique<QFile>(QFile::decodeName(file->path()));
        if (!hashing->open(QIODevice::ReadOnly)) {
            hashing.reset();
            discardPartialFile();
        }
    }
}

// A slice of the hashing; false once it is done.
bool TransferEngine::Transfer::continueHashing()
{
    if (!hashing)
        return false;
    const qint64 limit = checkingTarget ? hashing->size() : resumeFrom;
    const QByteArray piece = hashing->read(std::min(hashSliceBytes, limit - hashing->pos()));
    hash.addData(piece);
    if (!piece.isEmpty() && hashing->pos() < limit)
        return true;
    const bool complete = hashing->pos() == limit && hashing->error() == QFile::NoError;
    hashing.reset();
    if (checkingTarget) {
        if (complete && hash.hexResult() == request.expected.sha256.toLower()) {
            outcome.alreadyThere = true;
            consoleMessage(QByteArray("Já no disco, sem download: " + request.localPath).constData());
            return false;
        }
        openPartialForResume();
        return hashing != nullptr;
    }
    if (!complete)
        discardPartialFile();
    else if (!request.expected.size.isEmpty() && resumeFrom == request.expected.size.toLongLong())
        keptWhole = hash.hexResult() == request.expected.sha256.toLower();
    if (resumeFrom > 0 && !keptWhole && !request.expected.size.isEmpty() &&
        resumeFrom == request.expected.size.toLongLong())
        discardPartialFile();
    return false;
}

// A partial file with its record stays for the next try or the next start;
// one without is of no use to either.
void TransferEngine::Transfer::leavePartialFile()
{
    if (file && resumable) {
        file->keep();
        file.reset();
    }
    file.reset();
}

void TransferEngine::Transfer::discardPartialFile()
{
    file.reset();
    if (resumable || QFileInfo::exists(QFile::decodeName(resumeRecordPath(request.localPath))))
        QFile::remove(QFile::decodeName(resumeRecordPath(request.localPath)));
    resumable = false;
    resumeFrom = 0;
    hash.reset();
}
