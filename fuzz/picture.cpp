// Fuzzes background picture loading as the stage does it: the input is
// written to a file named ".jpg" (decoded by libjpeg-turbo) and to one named
// ".bmp" (read as a Windows bitmap) and each is loaded at a small stage size.
// A load gives either a null picture or one of exactly the stage's size; it
// never crashes, never ends the process and never writes to standard error.
#include <unistd.h>

#include <QFile>
#include <QImage>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "stage/canvas/BackgroundPicture.h"

namespace {

const QSize kStage(64, 48);
// Small enough to keep every run fast; the limit's check is what is tested.
constexpr std::int64_t kMaxPixels = 4 * 1000 * 1000;

const QString& folder() {
    static const QString path = [] {
        char name[] = "/tmp/vozaro-fuzz-picture-XXXXXX";
        if (!mkdtemp(name))
            std::abort();
        return QString::fromLocal8Bit(name);
    }();
    return path;
}

void check(const QString& path, const std::uint8_t* data, std::size_t size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    file.close();
    const QImage picture = loadBackgroundPicture(path, kStage, 51, kMaxPixels);
    if (!picture.isNull() &&
        (picture.size() != kStage || picture.format() != QImage::Format_RGB32))
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check(folder() + "/picture.jpg", data, size);
    check(folder() + "/picture.bmp", data, size);
    return 0;
}
