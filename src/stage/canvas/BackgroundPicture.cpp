#include "stage/canvas/BackgroundPicture.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <algorithm>

namespace {

// A picture loaded at the given size, or a null picture.
QImage loadPicture(const QString& path, const QSize& size, std::int64_t maxPixels) {
    if (QFileInfo(path).suffix().toUpper() == QLatin1String("JPG")) {
        vozaro::platform::JpegOptions options;
        options.minWidth = size.width();
        options.minHeight = size.height();
        options.maxPixels = maxPixels;
        auto* decoded = new vozaro::platform::DecodedPicture;
        std::string error;
        if (!vozaro::platform::decodeJpegFile(QFile::encodeName(path).toStdString(), options,
                                              *decoded, error)) {
            delete decoded;
            return {};
        }
        return QImage(
            decoded->pixels.data(), decoded->width, decoded->height, decoded->width * 4,
            QImage::Format_RGB32,
            [](void* data) { delete static_cast<vozaro::platform::DecodedPicture*>(data); },
            decoded);
    }
    QImageReader reader(path, "bmp");
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    const QSize declared = reader.size();
    if (!declared.isValid() ||
        static_cast<std::int64_t>(declared.width()) * declared.height() > maxPixels)
        return {};
    QImage picture;
    if (!reader.read(&picture))
        return {};
    return picture;
}

}  // namespace

void darkenPicture(QImage& picture, int level) {
    if (level <= 0)
        return;
    const auto amount = static_cast<std::uint8_t>(std::min(level, 255));
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = line[x];
            const auto down = [amount](int byte) { return byte > amount ? byte - amount : 0; };
            line[x] = qRgb(down(qRed(pixel)), down(qGreen(pixel)), down(qBlue(pixel)));
        }
    }
}

QImage loadBackgroundPicture(const QString& path, const QSize& size, int darkLevel,
                             std::int64_t maxPixels) {
    if (size.isEmpty())
        return {};
    const QImage loaded = loadPicture(path, size, maxPixels);
    if (loaded.isNull())
        return {};
    QImage background =
        loaded.size() == size
            ? loaded.convertToFormat(QImage::Format_RGB32)
            : loaded.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                  .convertToFormat(QImage::Format_RGB32);
    if (background.isNull())
        return {};
    darkenPicture(background, darkLevel);
    return background;
}

QImage withTransparentBackground(const QImage& picture) {
    if (picture.isNull())
        return picture;
    QImage copy = picture.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = copy.pixel(0, copy.height() - 1) | 0xff000000u;
    for (int y = 0; y < copy.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(copy.scanLine(y));
        for (int x = 0; x < copy.width(); ++x)
            if ((line[x] | 0xff000000u) == key)
                line[x] = 0;
    }
    return copy;
}
