// Decoding ".jpg" background pictures with libjpeg-turbo.
//
// Pictures come from a folder anyone can fill, so the decoder treats every
// file as untrusted: libjpeg's errors come back here instead of ending the
// process, a picture whose declared size exceeds maxPixels is refused before
// any pixel memory is taken, and a failed decode leaves `out` untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vozaro::platform {

// 32-bit pixels in the byte order of a QImage::Format_RGB32 word on this
// machine (blue, green, red, 0xFF on a little-endian one), rows packed.
struct DecodedPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 4 bytes
};

inline constexpr std::int64_t kMaxPicturePixels = 64ll * 1000 * 1000;

struct JpegOptions {
    // The picture will be shown at this size: decode at the smallest of the
    // scales 1, 1/2, 1/4, 1/8 that still covers it (0 × 0: full size).
    int minWidth = 0;
    int minHeight = 0;
    std::int64_t maxPixels = kMaxPicturePixels;
};

// Decodes a JPEG picture held in memory.  On failure returns false, leaves
// `out` as it was and says why in `error` (English).
bool decodeJpeg(const std::uint8_t* data, std::size_t size, const JpegOptions& options,
                DecodedPicture& out, std::string& error);

// The same for a file (a path in the file system's encoding).
bool decodeJpegFile(const std::string& path, const JpegOptions& options, DecodedPicture& out,
                    std::string& error);

}  // namespace vozaro::platform
