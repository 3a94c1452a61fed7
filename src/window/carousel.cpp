#include "carousel.h"

#include "transfer/folderfile.h"
#include "state/launcherstate.h"
#include "messages.h"
#include "names.h"
#include "ui_mainwindow.h"

#include <QDesktopServices>
#include <QFile>
#include <QImageReader>
#include <QTimer>

namespace {

// The position on show is eight bits wide.
constexpr int maximumCarouselImages = 255;

// The carousel shows 500 x 375 pixels. A larger picture makes no sense there, and
// a small file may decode to a huge one; the pictures kept together stay within
// a budget too.
constexpr int maximumPictureSide = 2048;
constexpr qint64 maximumCarouselBytes = 256LL * 1024 * 1024;

// The picture, or a null one when it cannot be read, is not a plain file or is
// too large; its size is read before anything is decoded.
QImage readPicture(const QByteArray &name, qint64 budgetLeft)
{
    QFile file(QString::fromUtf8(picturesFolder + name));
    if (!openRegularFile(file, QIODevice::ReadOnly))
        return QImage();
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    const qint64 bytes = qint64(size.width()) * size.height() * 4;
    if (!size.isValid() || size.width() > maximumPictureSide || size.height() > maximumPictureSide ||
        bytes > budgetLeft) {
        consoleMessage(QByteArray("Imagem recusada, grande demais ou ilegível: " + name).constData());
        return QImage();
    }
    return reader.read();
}

} // namespace

void Carousel::showNext()
{
    if (pictures.isEmpty()) {
        index = 0;
        qint64 budgetLeft = maximumCarouselBytes;
        for (const auto &[name, image] : context.state->images) {
            if (pictures.size() == maximumCarouselImages)
                break;
            if (!isSafeRelativeName(image.name))
                continue;
            const QImage picture = readPicture(image.name, budgetLeft);
            if (picture.isNull())
                continue;
            budgetLeft -= picture.sizeInBytes();
            pictures.append(
                {QPixmap::fromImage(picture), QUrl(QString::fromUtf8(image.href), QUrl::TolerantMode)});
            ++index;
        }
        QObject::connect(context.form->img_background, SIGNAL(clicked()), context.window, SLOT(onImgClick()));
        if (pictures.isEmpty())
            return;
    }

    // The build leaves the index at the count, so the first picture comes first.
    if (index >= pictures.size() - 1)
        index = 0;
    else
        ++index;
    context.form->img_background->setPixmap(pictures.at(index).pixmap);
    QTimer::singleShot(5000, context.window, SLOT(onTimedImageChange()));
}

void Carousel::openLink() const
{
    // A picture's link is a web page: any other scheme could open a file or run
    // a program the list put on the player's disk.
    if (index >= pictures.size())
        return;
    const QUrl &link = pictures.at(index).link;
    if (link.scheme() == QLatin1String("http") || link.scheme() == QLatin1String("https"))
        QDesktopServices::openUrl(link);
}
