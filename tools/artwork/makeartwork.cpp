// Draws the launcher's own artwork: the window background, the three kinds of
// button, the first carousel picture and the icon at each of its sizes. Run by
// scripts/make-artwork, which assembles the icon file from the sizes.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <cmath>
#include <cstdio>

namespace {

void save(const QImage &image, const QString &path, int quality = -1)
{
    if (!image.save(path, nullptr, quality)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

void drawStars(QPainter &painter, const QRectF &area, int count, quint32 seed)
{
    QRandomGenerator random(seed);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < count; ++i) {
        const QPointF at(area.left() + random.bounded(area.width()),
                         area.top() + random.bounded(area.height()));
        const double size = 0.4 + random.bounded(1.2);
        const int alpha = 60 + random.bounded(170);
        painter.setBrush(QColor(220, 230, 255, alpha));
        painter.drawEllipse(at, size, size);
    }
}

// A ridge of mountains across the width, from a few overlapping waves.
QPainterPath ridge(double width, double height, double base, double amplitude, double phase)
{
    QPainterPath path(QPointF(0, height));
    for (double x = 0; x <= width; x += 4) {
        const double y =
            base - amplitude * (0.55 * std::sin(x / 97.0 + phase) + 0.3 * std::sin(x / 41.0 + 2 * phase) +
                                0.15 * std::sin(x / 17.0 + 3 * phase));
        path.lineTo(x, y);
    }
    path.lineTo(width, height);
    path.closeSubpath();
    return path;
}

QImage windowBackground()
{
    QImage image(800, 600, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, 600);
    sky.setColorAt(0.0, QColor(8, 10, 28));
    sky.setColorAt(0.55, QColor(28, 18, 58));
    sky.setColorAt(1.0, QColor(10, 6, 18));
    painter.fillRect(image.rect(), sky);

    QRadialGradient glow(QPointF(460, 250), 420);
    glow.setColorAt(0.0, QColor(120, 60, 170, 110));
    glow.setColorAt(0.6, QColor(60, 30, 110, 40));
    glow.setColorAt(1.0, QColor(0, 0, 0, 0));
    painter.fillRect(image.rect(), glow);
    drawStars(painter, QRectF(0, 0, 800, 420), 260, 7);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(30, 20, 52));
    painter.drawPath(ridge(800, 600, 430, 60, 0.3));
    painter.setBrush(QColor(18, 12, 32));
    painter.drawPath(ridge(800, 600, 480, 45, 1.7));

    // A golden band under the title and a darker floor for the buttons.
    QLinearGradient band(0, 0, 800, 0);
    band.setColorAt(0.0, QColor(255, 190, 60, 0));
    band.setColorAt(0.5, QColor(255, 190, 60, 150));
    band.setColorAt(1.0, QColor(255, 190, 60, 0));
    painter.fillRect(QRectF(0, 82, 800, 2), band);
    QLinearGradient floor(0, 460, 0, 600);
    floor.setColorAt(0.0, QColor(0, 0, 0, 0));
    floor.setColorAt(0.3, QColor(0, 0, 0, 150));
    floor.setColorAt(1.0, QColor(0, 0, 0, 210));
    painter.fillRect(QRectF(0, 460, 800, 140), floor);

    // A panel behind the link buttons.
    painter.setBrush(QColor(0, 0, 0, 90));
    painter.setPen(QPen(QColor(255, 200, 90, 70), 1));
    painter.drawRoundedRect(QRectF(4.5, 88.5, 180, 278), 8, 8);
    return image;
}

QImage button(QSize size, QColor top, QColor bottom, QColor edge)
{
    const int scale = 3; // drawn large, stretched over the button by the style sheet
    QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body = QRectF(image.rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QLinearGradient fill(0, 0, 0, image.height());
    fill.setColorAt(0.0, top.lighter(112));
    fill.setColorAt(0.48, top);
    fill.setColorAt(0.52, bottom.lighter(108));
    fill.setColorAt(1.0, bottom);
    painter.setBrush(fill);
    painter.setPen(QPen(edge, 3));
    painter.drawRoundedRect(body, 4 * scale, 4 * scale);
    // A soft shine across the upper half.
    QLinearGradient shine(0, 0, 0, image.height() / 2.0);
    shine.setColorAt(0.0, QColor(255, 255, 255, 120));
    shine.setColorAt(1.0, QColor(255, 255, 255, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shine);
    painter.drawRoundedRect(body.adjusted(4, 3, -4, -body.height() / 2), 3 * scale, 3 * scale);
    return image;
}

QImage firstCarouselPicture()
{
    QImage image(640, 480, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient sky(0, 0, 0, 480);
    sky.setColorAt(0.0, QColor(22, 24, 66));
    sky.setColorAt(0.45, QColor(120, 50, 110));
    sky.setColorAt(0.75, QColor(240, 130, 60));
    sky.setColorAt(1.0, QColor(255, 200, 110));
    painter.fillRect(image.rect(), sky);
    drawStars(painter, QRectF(0, 0, 640, 200), 140, 11);

    QRadialGradient moon(QPointF(500, 110), 46);
    moon.setColorAt(0.0, QColor(255, 250, 230));
    moon.setColorAt(0.8, QColor(255, 235, 190));
    moon.setColorAt(1.0, QColor(255, 220, 160, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(moon);
    painter.drawEllipse(QPointF(500, 110), 46, 46);

    painter.setBrush(QColor(70, 30, 70));
    painter.drawPath(ridge(640, 480, 330, 50, 0.9));
    painter.setBrush(QColor(40, 18, 44));
    painter.drawPath(ridge(640, 480, 380, 40, 2.3));

    // A keep on the nearer ridge.
    painter.setBrush(QColor(24, 10, 28));
    QPainterPath keep;
    keep.setFillRule(Qt::WindingFill);
    keep.addRect(QRectF(150, 300, 70, 90));
    keep.addRect(QRectF(135, 270, 26, 120));
    keep.addRect(QRectF(209, 260, 26, 130));
    for (int i = 0; i < 4; ++i)
        keep.addRect(QRectF(152 + i * 18, 290, 10, 11));
    for (const double tower : {135.0, 209.0}) {
        keep.addRect(QRectF(tower, tower < 150 ? 262 : 252, 7, 9));
        keep.addRect(QRectF(tower + 19, tower < 150 ? 262 : 252, 7, 9));
    }
    painter.drawPath(keep);
    painter.setBrush(QColor(255, 200, 90));
    painter.drawRect(QRectF(180, 330, 8, 14));
    painter.drawRect(QRectF(218, 290, 6, 10));

    QLinearGradient shade(0, 380, 0, 480);
    shade.setColorAt(0.0, QColor(0, 0, 0, 0));
    shade.setColorAt(1.0, QColor(0, 0, 0, 200));
    painter.fillRect(QRectF(0, 380, 640, 100), shade);

    QFont title(QStringLiteral("C059"), 30, QFont::Bold);
    painter.setFont(title);
    painter.setPen(QColor(0, 0, 0, 160));
    const QRectF titleArea(0, 398, 640, 44);
    painter.drawText(titleArea.translated(2, 2), Qt::AlignCenter, QStringLiteral("Astravel & Tessaro"));
    painter.setPen(QColor(255, 214, 110));
    painter.drawText(titleArea, Qt::AlignCenter, QStringLiteral("Astravel & Tessaro"));
    QFont line(QStringLiteral("Liberation Sans"), 13);
    painter.setFont(line);
    painter.setPen(QColor(240, 236, 228));
    painter.drawText(QRectF(0, 440, 640, 26), Qt::AlignCenter,
                     QString::fromUtf8("Escolha um servidor abaixo para instalar, atualizar e jogar"));
    return image;
}

// A golden star on a dark shield: it stays readable at 16 pixels.
QImage icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    const QPointF centre(s / 2, s / 2);

    QRadialGradient disc(centre, s / 2);
    disc.setColorAt(0.0, QColor(70, 50, 140));
    disc.setColorAt(1.0, QColor(14, 12, 40));
    painter.setBrush(disc);
    painter.setPen(QPen(QColor(255, 196, 64), std::max(1.0, s / 16)));
    const double inset = std::max(0.5, s / 32);
    painter.drawEllipse(QRectF(inset, inset, s - 2 * inset, s - 2 * inset));

    QPainterPath star;
    const double outer = s * 0.36, inner = s * 0.13;
    for (int i = 0; i < 8; ++i) {
        const double radius = i % 2 == 0 ? outer : inner;
        const double angle = -M_PI / 2 + i * M_PI / 4;
        const QPointF point = centre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
        if (i == 0)
            star.moveTo(point);
        else
            star.lineTo(point);
    }
    star.closeSubpath();
    QLinearGradient gold(0, s * 0.15, 0, s * 0.85);
    gold.setColorAt(0.0, QColor(255, 236, 150));
    gold.setColorAt(1.0, QColor(235, 150, 30));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gold);
    painter.drawPath(star);
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    save(windowBackground(), out.filePath(QStringLiteral("background.png")));
    save(button(QSize(161, 27), QColor(196, 216, 250), QColor(120, 160, 230), QColor(30, 50, 110)),
         out.filePath(QStringLiteral("bg_facebook.png")));
    save(button(QSize(161, 27), QColor(255, 232, 170), QColor(232, 176, 70), QColor(110, 70, 10)),
         out.filePath(QStringLiteral("bg_sites.png")));
    save(button(QSize(161, 21), QColor(222, 240, 210), QColor(140, 196, 120), QColor(30, 80, 30)),
         out.filePath(QStringLiteral("bg_servidores.png")));
    save(firstCarouselPicture(), out.filePath(QStringLiteral("background.jpg")), 90);
    for (const int size : {256, 128, 96, 72, 64, 48, 32, 24, 16})
        save(icon(size), out.filePath(QStringLiteral("icon-%1.png").arg(size)));
    return 0;
}
