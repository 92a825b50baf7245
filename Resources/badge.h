#ifndef SCORLET_BADGE_H
#define SCORLET_BADGE_H

// The application's badge, a grey disc bearing the letters CSV. Shared by the window icon
// (Resources/zezadidbg.bmp) and the desktop and Windows icons, so that all show one picture.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRadialGradient>

// Paints the badge into the square (0, 0, 512, 512) of the painter's coordinates; scale the
// painter to draw it at another size. Paints nothing outside the disc.
inline void paintBadge(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);

    QRadialGradient face(QPointF(200, 180), 330);
    face.setColorAt(0.0, QColor(0xd8, 0xd8, 0xd8));
    face.setColorAt(1.0, QColor(0x80, 0x80, 0x80));
    p.setPen(QPen(QColor(0x50, 0x50, 0x50), 14));
    p.setBrush(face);
    p.drawEllipse(QRectF(16, 16, 480, 480));
    p.setPen(QPen(QColor(0xf0, 0xf0, 0xf0), 6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(46, 46, 420, 420));

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(150);
    p.setFont(font);
    const QRectF text(0, 0, 512, 512);
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.drawText(text.translated(5, 6), Qt::AlignCenter, QStringLiteral("CSV"));
    p.setPen(Qt::white);
    p.drawText(text, Qt::AlignCenter, QStringLiteral("CSV"));
}

// The badge drawn into the whole of a square image of the given size, on the given background.
inline QImage badgeImage(int size, QImage::Format format, const QColor &background)
{
    QImage image(size, size, format);
    image.fill(background);
    QPainter p(&image);
    p.scale(size / 512.0, size / 512.0);
    paintBadge(p);
    return image;
}

#endif // SCORLET_BADGE_H
