// Draws the application's icons from the badge into the packaging folder given as the only
// argument: the freedesktop hicolor PNGs, icons/hicolor/<N>x<N>/apps/com.zentriq.Scorlet.png,
// and the Windows icon group windows/scorlet.ico (16, 32, 48, 64 and 256 pixels, each at 4,
// 24 and 32 bits per pixel). Run it with QT_QPA_PLATFORM=offscreen.

#include "badge.h"
#include "imagetool.h"

#include <QBuffer>
#include <QByteArray>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QList>

#include <limits>

namespace {

const QString appId = QStringLiteral("com.zentriq.Scorlet");

// The badge on a transparent background. Drawn once large and scaled down, which keeps the
// small sizes smoother than drawing them with a tiny font.
QImage badgeAt(int size)
{
    static const QImage master =
        badgeImage(1024, QImage::Format_ARGB32_Premultiplied, Qt::transparent);
    return master.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

// The standard Windows 16-colour palette, which every 4-bit icon is expected to use.
const QList<QRgb> &windowsPalette()
{
    static const QList<QRgb> palette = {
        qRgb(0x00, 0x00, 0x00), qRgb(0x80, 0x00, 0x00), qRgb(0x00, 0x80, 0x00),
        qRgb(0x80, 0x80, 0x00), qRgb(0x00, 0x00, 0x80), qRgb(0x80, 0x00, 0x80),
        qRgb(0x00, 0x80, 0x80), qRgb(0xc0, 0xc0, 0xc0), qRgb(0x80, 0x80, 0x80),
        qRgb(0xff, 0x00, 0x00), qRgb(0x00, 0xff, 0x00), qRgb(0xff, 0xff, 0x00),
        qRgb(0x00, 0x00, 0xff), qRgb(0xff, 0x00, 0xff), qRgb(0x00, 0xff, 0xff),
        qRgb(0xff, 0xff, 0xff)};
    return palette;
}

int nearestPaletteIndex(QRgb colour)
{
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    const QList<QRgb> &palette = windowsPalette();
    for (int i = 0; i < palette.size(); ++i) {
        const int dr = qRed(colour) - qRed(palette.at(i));
        const int dg = qGreen(colour) - qGreen(palette.at(i));
        const int db = qBlue(colour) - qBlue(palette.at(i));
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

// Without an alpha channel a pixel is either drawn or left to the background (the AND mask).
bool opaque(QRgb pixel)
{
    return qAlpha(pixel) >= 128;
}

int rowStride(int width, int bitsPerPixel)
{
    return (width * bitsPerPixel + 31) / 32 * 4;
}

// One icon image in the form Windows keeps it: a BITMAPINFOHEADER of twice the height, the
// palette if any, the colour rows and the AND mask rows, both bottom-up.
QByteArray dibImage(const QImage &image, int bitsPerPixel)
{
    const int size = image.width();
    const int colourStride = rowStride(size, bitsPerPixel);
    const int maskStride = rowStride(size, 1);
    const bool paletted = bitsPerPixel == 4;

    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint32(40) << qint32(size) << qint32(2 * size) << quint16(1) << quint16(bitsPerPixel)
        << quint32(0) << quint32((colourStride + maskStride) * size) << qint32(0) << qint32(0)
        << quint32(paletted ? 16 : 0) << quint32(0);
    if (paletted) {
        for (QRgb colour : windowsPalette())
            out << quint8(qBlue(colour)) << quint8(qGreen(colour)) << quint8(qRed(colour))
                << quint8(0);
    }

    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(colourStride, '\0');
        for (int x = 0; x < size; ++x) {
            const QRgb pixel = image.pixel(x, y);
            switch (bitsPerPixel) {
            case 32:
                row[4 * x] = char(qBlue(pixel));
                row[4 * x + 1] = char(qGreen(pixel));
                row[4 * x + 2] = char(qRed(pixel));
                row[4 * x + 3] = char(qAlpha(pixel));
                break;
            case 24:
                // A masked pixel stays black so that the screen shows through unchanged.
                if (opaque(pixel)) {
                    row[3 * x] = char(qBlue(pixel));
                    row[3 * x + 1] = char(qGreen(pixel));
                    row[3 * x + 2] = char(qRed(pixel));
                }
                break;
            case 4:
                if (opaque(pixel)) {
                    const int index = nearestPaletteIndex(pixel);
                    row[x / 2] = char(row.at(x / 2) | (x % 2 ? index : index << 4));
                }
                break;
            }
        }
        out.writeRawData(row.constData(), row.size());
    }
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < size; ++x) {
            if (!opaque(image.pixel(x, y)))
                row[x / 8] = char(row.at(x / 8) | (0x80 >> (x % 8)));
        }
        out.writeRawData(row.constData(), row.size());
    }
    return data;
}

QByteArray pngImage(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

struct IconEntry
{
    int size;
    int bitsPerPixel;
    QByteArray data;
};

QByteArray iconFile(const QList<IconEntry> &entries)
{
    QByteArray file;
    QDataStream out(&file, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(entries.size());
    quint32 offset = 6 + 16 * entries.size();
    for (const IconEntry &entry : entries) {
        // A width or height of 256 does not fit the byte and is written as 0.
        out << quint8(entry.size % 256) << quint8(entry.size % 256)
            << quint8(entry.bitsPerPixel == 4 ? 16 : 0) << quint8(0) << quint16(1)
            << quint16(entry.bitsPerPixel) << quint32(entry.data.size()) << offset;
        offset += entry.data.size();
    }
    for (const IconEntry &entry : entries)
        out.writeRawData(entry.data.constData(), entry.data.size());
    return file;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.flush();
}

bool writeDesktopIcons(const QDir &packaging)
{
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("icons/hicolor/%1x%1/apps").arg(size);
        if (!packaging.mkpath(folder))
            return false;
        const QString path = packaging.filePath(folder + QLatin1Char('/') + appId + ".png");
        if (!writeFile(path, pngImage(badgeAt(size))))
            return false;
    }
    return true;
}

bool writeWindowsIcon(const QDir &packaging)
{
    QList<IconEntry> entries;
    for (int size : {16, 32, 48, 64, 256}) {
        const QImage image = badgeAt(size);
        for (int bitsPerPixel : {32, 24, 4}) {
            // Windows expects the 256-pixel true-colour image compressed as PNG.
            const bool png = size == 256 && bitsPerPixel == 32;
            entries.append(
                {size, bitsPerPixel, png ? pngImage(image) : dibImage(image, bitsPerPixel)});
        }
    }
    return packaging.mkpath(QStringLiteral("windows")) &&
           writeFile(packaging.filePath(QStringLiteral("windows/scorlet.ico")), iconFile(entries));
}

} // namespace

int main(int argc, char **argv)
{
    return runImageTool(argc, argv, "usage: scorlet_make_icons <packaging folder>",
                        [](const QDir &packaging) {
                            return writeDesktopIcons(packaging) && writeWindowsIcon(packaging);
                        });
}
