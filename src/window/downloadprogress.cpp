// The progress display of the transfers: the bar on every report, the speed
// text at most once a second.

#include "filedownloader.h"

#include "clock.h"
#include "playertexts.h"

#include <QLabel>
#include <QProgressBar>

namespace {

// Kilobytes per second over the interval, however long it really was.
qint64 speedKilobytesPerSecond(qint64 bytes, qint64 elapsedMs)
{
    return bytes * 1000 / (std::max<qint64>(elapsedMs, 1) * 1024);
}

} // namespace

void FileDownloader::showProgress(qint64 stored, qint64 expectedTotal, qint64 received)
{
    if (!progressBar || expectedTotal <= 0)
        return;
    const qint64 now = currentTimeMs();
    if (statusLabel && displayName && now - lastUpdateMs > 1000) {
        const qint64 since = lastUpdateMs == 0 ? transferStartMs : lastUpdateMs;
        const qint64 speed = speedKilobytesPerSecond(received - lastUpdateBytes, now - since);
        statusLabel->setText(PlayerText::downloadProgress(displayName, speed));
        lastUpdateBytes = received;
        lastUpdateMs = currentTimeMs();
    }
    progressBar->setValue(int(std::min<qint64>(stored * 100 / expectedTotal, 100)));
}
