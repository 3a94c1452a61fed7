// The news carousel: the pictures of the update list, one every five seconds, a
// click opening the page of the picture on show.

#include "mainwindow.h"

#include "launcherstate.h"
#include "names.h"
#include "ui_mainwindow.h"

#include <QDesktopServices>
#include <QImageReader>
#include <QTimer>

namespace {

// The position on show is eight bits wide.
constexpr int maximumCarouselImages = 255;

} // namespace

void MainWindow::nextImage()
{
    if (carouselImages.isEmpty()) {
        carouselIndex = 0;
        for (const auto &[name, image] : launcherState->images) {
            if (carouselImages.size() == maximumCarouselImages)
                break;
            if (!isSafeRelativeName(image.name))
                continue;
            QImageReader reader(QString::fromUtf8("imagens/" + image.name));
            reader.setDecideFormatFromContent(true);
            const QImage picture = reader.read();
            if (picture.isNull())
                continue;
            carouselImages.append(
                {QPixmap::fromImage(picture), QUrl(QString::fromUtf8(image.href), QUrl::TolerantMode)});
            ++carouselIndex;
        }
        connect(form->img_background, SIGNAL(clicked()), this, SLOT(onImgClick()));
        if (carouselImages.isEmpty())
            return;
    }

    // The build leaves the index at the count, so the first picture comes first.
    if (carouselIndex >= carouselImages.size() - 1)
        carouselIndex = 0;
    else
        ++carouselIndex;
    form->img_background->setPixmap(carouselImages.at(carouselIndex).pixmap);
    QTimer::singleShot(5000, this, SLOT(onTimedImageChange()));
}

void MainWindow::onTimedImageChange()
{
    nextImage();
}

void MainWindow::onImgClick()
{
    if (carouselIndex < carouselImages.size())
        QDesktopServices::openUrl(carouselImages.at(carouselIndex).link);
}
