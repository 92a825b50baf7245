// Draws the program's three images into the folder given as the only argument:
// zezadidbg.bmp (512x512, 24 bits, the window icon), open.png (32x32, a folder) and
// openrecent.png (48x48, a document with a clock). Run it with QT_QPA_PLATFORM=offscreen.

#include "badge.h"
#include "imagetool.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <initializer_list>

namespace {

QImage transparentImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// Straight lines through the points, back to the first one when closed.
QPainterPath lines(std::initializer_list<QPointF> points, bool closed = true)
{
    QPainterPath path;
    path.addPolygon(QPolygonF(points));
    if (closed)
        path.closeSubpath();
    return path;
}

QImage folder()
{
    QImage image = transparentImage(32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPen outline(QColor(0x8a, 0x62, 0x10), 1.2);

    const QPainterPath back =
        lines({{2.5, 7.5}, {11.5, 7.5}, {14.5, 10.5}, {28.5, 10.5}, {28.5, 26.5}, {2.5, 26.5}});
    p.setPen(outline);
    p.setBrush(QColor(0xd9, 0xa4, 0x2b));
    p.drawPath(back);

    const QPainterPath front = lines({{5.5, 14.5}, {30.5, 14.5}, {27.5, 27.5}, {2.5, 27.5}});
    QLinearGradient shade(0, 14, 0, 28);
    shade.setColorAt(0, QColor(0xff, 0xdc, 0x6e));
    shade.setColorAt(1, QColor(0xf0, 0xb8, 0x36));
    p.setBrush(shade);
    p.drawPath(front);
    return image;
}

QImage documentWithClock()
{
    QImage image = transparentImage(48);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const QPainterPath page =
        lines({{6.5, 2.5}, {26.5, 2.5}, {34.5, 10.5}, {34.5, 42.5}, {6.5, 42.5}});
    p.setPen(QPen(QColor(0x55, 0x5f, 0x6b), 1.2));
    p.setBrush(Qt::white);
    p.drawPath(page);
    const QPainterPath fold = lines({{26.5, 2.5}, {26.5, 10.5}, {34.5, 10.5}}, false);
    p.setBrush(QColor(0xdd, 0xe2, 0xe8));
    p.drawPath(fold);

    p.setPen(QPen(QColor(0x9a, 0xa6, 0xb4), 1.6));
    for (int y = 15; y <= 36; y += 5)
        p.drawLine(QPointF(10.5, y), QPointF(y < 28 ? 30.5 : 22.5, y));

    const QPointF centre(34, 34);
    p.setPen(QPen(QColor(0x1d, 0x4f, 0x91), 2));
    p.setBrush(QColor(0xe8, 0xf1, 0xfc));
    p.drawEllipse(centre, 12, 12);
    p.setPen(QPen(QColor(0x1d, 0x4f, 0x91), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre, centre + QPointF(0, -8));
    p.drawLine(centre, centre + QPointF(6, 3));
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    return runImageTool(
        argc, argv, "usage: scorlet_draw_images <Resources folder>", [](const QDir &out) {
            // A BMP carries no alpha, so the badge sits on white.
            return badgeImage(512, QImage::Format_RGB888, Qt::white)
                       .save(out.filePath(QStringLiteral("zezadidbg.bmp")), "BMP") &&
                   folder().save(out.filePath(QStringLiteral("open.png")), "PNG") &&
                   documentWithClock().save(out.filePath(QStringLiteral("openrecent.png")), "PNG");
        });
}
