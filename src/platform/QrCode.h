// QR codes (libqrencode): the dark and light modules of a code holding a
// text, for drawing.
#pragma once

#include <string>
#include <vector>

namespace vozaro::platform {

struct QrCode {
    int width = 0;                // modules per side; 0 when the text could not be encoded
    std::vector<bool> dark;       // width × width, row by row
    bool at(int x, int y) const { return dark[static_cast<std::size_t>(y * width + x)]; }
};

// The smallest code holding `text` (8-bit mode, error correction level M).
QrCode encodeQr(const std::string& text);

}  // namespace vozaro::platform
