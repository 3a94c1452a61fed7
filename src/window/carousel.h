#pragma once

#include "windowcontext.h"

#include <QList>
#include <QPixmap>
#include <QUrl>

// The news carousel: the pictures of the update list, one every five seconds, a
// click opening the page of the picture on show. Its timer and its click reach
// the window's slots onTimedImageChange and onImgClick, which come back here.
class Carousel
{
public:
    explicit Carousel(const WindowContext &context) : context(context) {}

    // The next picture; the first call reads the pictures and wires the click.
    void showNext();
    // Opens the page of the picture on show.
    void openLink() const;

private:
    struct Picture {
        QPixmap pixmap;
        QUrl link;
    };

    WindowContext context;
    QList<Picture> pictures;
    quint8 index = 0;
};
