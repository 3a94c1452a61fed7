#include "chunks/filedelta.h"

#include "names.h"
#include "transfer/folderfile.h"
#include "transfer/partialfile.h"
#include "transfer/sha256.h"
#include "transfer/transferengine.h"

#include <QFile>

#include <zstd.h>

namespace {

// Every byte of the version before can be referred to, and the new one after it.
constexpr int deltaWindowLog = 21;
static_assert(qint64(1) << deltaWindowLog >= 2 * largestDeltaFile);

} // namespace

QByteArray deltaPath(const QByteArray &fromSha256, const QByteArray &toSha256)
{
    return "deltas/" + toSha256.left(2).toLower() + '/' + fromSha256.toLower() + '-' + toSha256.toLower();
}

QByteArray makeDelta(const QByteArray &previous, const QByteArray &updated, int level)
{
    const std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(), &ZSTD_freeCCtx);
    QByteArray delta(int(ZSTD_compressBound(std::size_t(updated.size()))), Qt::Uninitialized);
    if (!context || ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, level)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, deltaWindowLog)) ||
        ZSTD_isError(ZSTD_CCtx_refPrefix(context.get(), previous.constData(), std::size_t(previous.size()))))
        return QByteArray();
    const std::size_t written = ZSTD_compress2(context.get(), delta.data(), std::size_t(delta.size()),
                                               updated.constData(), std::size_t(updated.size()));
    if (ZSTD_isError(written))
        return QByteArray();
    delta.resize(int(written));
    return delta;
}

std::optional<QByteArray> applyDelta(const QByteArray &previous, const QByteArray &delta, qint64 size)
{
    if (size < 0 || size > largestDeltaFile ||
        ZSTD_getFrameContentSize(delta.constData(), std::size_t(delta.size())) != quint64(size))
        return std::nullopt;
    const std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(), &ZSTD_freeDCtx);
    QByteArray updated(int(size), Qt::Uninitialized);
    if (!context ||
        ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, deltaWindowLog)) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), previous.constData(), std::size_t(previous.size()))))
        return std::nullopt;
    const std::size_t read = ZSTD_decompressDCtx(context.get(), updated.data(), std::size_t(size),
                                                 delta.constData(), std::size_t(delta.size()));
    if (ZSTD_isError(read) || read != std::size_t(size))
        return std::nullopt;
    return updated;
}

bool offersDelta(const ContentCheck &expected)
{
    return !expected.deltaFrom.isEmpty() && !expected.deltaSize.isEmpty() && !expected.sha256.isEmpty() &&
           expected.hasUsableSize() && expected.bytes() <= largestDeltaFile;
}

struct FileDelta::Work {
    QByteArray localPath;
    ContentCheck expected;
    TransferEngine engine;
    std::size_t request = 0;
    QByteArray previous; // the installed version
    Result result = Result::Working;
    QByteArray reason;
    qint64 written = 0;

    Work(const QByteArray &localPath, const ContentCheck &expected, TransferPolicy policy)
        : localPath(localPath), expected(expected), engine(std::move(policy))
    {
    }
    void finish(Result ending, const QByteArray &why = QByteArray())
    {
        result = ending;
        reason = why;
    }
    void build();
};

FileDelta::FileDelta(const std::vector<QByteArray> &bases, const QByteArray &localPath,
                     const ContentCheck &expected, TransferPolicy policy)
    : work(std::make_unique<Work>(localPath, expected, std::move(policy)))
{
    Work &w = *work;
    QFile installed(QFile::decodeName(localPath));
    bool sized = false;
    const qint64 deltaSize = expected.deltaSize.toLongLong(&sized);
    if (!offersDelta(expected) || !sized || deltaSize <= 0 || deltaSize > 2 * largestDeltaFile) {
        w.finish(Result::Unavailable, "delta sem tamanho");
        return;
    }
    if (!openRegularFile(installed, QIODevice::ReadOnly) || installed.size() > largestDeltaFile ||
        Sha256::hexOf(w.previous = installed.readAll()) != expected.deltaFrom.toLower()) {
        w.finish(Result::Unavailable, "a versão instalada não é a do delta");
        return;
    }
    w.request = w.engine.add(requestWithMirrors(
        downloadUrls(bases, "", deltaPath(expected.deltaFrom, expected.sha256)), {}, deltaSize));
}

FileDelta::~FileDelta() = default;

void FileDelta::Work::build()
{
    const TransferOutcome &outcome = engine.outcome(request);
    if (outcome.kind != TransferOutcome::Kind::Stored)
        return finish(Result::Unavailable, "delta ausente");
    const std::optional<QByteArray> updated =
        applyDelta(previous, engine.takeBody(request), expected.bytes());
    if (!updated || Sha256::hexOf(*updated) != expected.sha256.toLower())
        return finish(Result::Unavailable, "delta danificado");
    const std::unique_ptr<PartialFile> output = PartialFile::create(localPath);
    if (!output || !output->write(updated->constData(), std::size_t(updated->size())) || !output->finish())
        return finish(Result::Unavailable, "arquivo parcial");
    written = updated->size();
    finish(Result::Built);
}

FilePatch::Result FileDelta::run(int waitMs)
{
    Work &w = *work;
    if (w.result != Result::Working)
        return w.result;
    if (w.engine.wasCancelled())
        w.finish(Result::Cancelled);
    else if (!w.engine.run(waitMs))
        w.build();
    return w.result;
}

void FileDelta::cancel()
{
    work->engine.cancel();
}

const QByteArray &FileDelta::reason() const
{
    return work->reason;
}

qint64 FileDelta::bytesReceived() const
{
    return work->engine.bytesReceived();
}

qint64 FileDelta::bytesWritten() const
{
    return work->written;
}
