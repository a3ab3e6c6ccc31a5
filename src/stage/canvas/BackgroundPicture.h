// Reading background pictures for the stage: ".jpg"/".JPG" through
// libjpeg-turbo, anything else as a Windows bitmap, stretched to the stage's
// size and darkened.  Every picture file is untrusted: a missing, damaged,
// mislabelled or oversized file gives a null picture, never a crash.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>

#include "platform/JpegPicture.h"

// Declared sizes above this many pixels are refused before decoding.
inline constexpr std::int64_t kMaxBackgroundPixels = vozaro::platform::kMaxPicturePixels;

// The picture at path stretched to size (Format_RGB32), darkened by
// darkLevel; a null picture on any failure, or when the picture declares
// more than maxPixels pixels.
QImage loadBackgroundPicture(const QString& path, const QSize& size, int darkLevel,
                             std::int64_t maxPixels = kMaxBackgroundPixels);

// Takes level (0 to 255) off every colour byte, stopping at 0.
void darkenPicture(QImage& picture, int level);

// A copy of the picture in which every pixel of its bottom-left pixel's colour
// is transparent: the way the program's logo is drawn over other pictures.
QImage withTransparentBackground(const QImage& picture);
