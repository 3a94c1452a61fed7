// The progress display of a transfer: the bar on every report, the speed text at
// most once a second, and the event loop kept turning.

#include "filedownloader.h"

#include "clock.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>

namespace {

// Kilobytes per second over the interval, however long it really was.
qint64 speedKilobytesPerSecond(qint64 bytes, qint64 elapsedMs)
{
    return bytes * 1000 / (std::max<qint64>(elapsedMs, 1) * 1024);
}

} // namespace

int FileDownloader::reportProgress(void *downloader, curl_off_t downloadTotal, curl_off_t downloaded,
                                   curl_off_t, curl_off_t)
{
    auto *self = static_cast<FileDownloader *>(downloader);
    if (self->progressBar && downloadTotal > 0) {
        const qint64 now = currentTimeMs();
        if (self->statusLabel && self->displayName && now - self->lastUpdateMs > 1000) {
            const qint64 since = self->lastUpdateMs == 0 ? self->transferStartMs : self->lastUpdateMs;
            const qint64 speed = speedKilobytesPerSecond(downloaded - self->lastUpdateBytes, now - since);
            self->statusLabel->setText(QString::fromUtf8(QByteArray("Baixando ") + self->displayName +
                                                         " | Velocidade " + QByteArray::number(speed) +
                                                         " KB/s"));
            self->lastUpdateBytes = downloaded;
            self->lastUpdateMs = currentTimeMs();
        }
        self->progressBar->setValue(int(std::min<curl_off_t>(downloaded * 100 / downloadTotal, 100)));
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return self->cancelled ? 1 : 0;
}
