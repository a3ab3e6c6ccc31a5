#include "platform/QrCode.h"

#include <qrencode.h>

namespace vozaro::platform {

QrCode encodeQr(const std::string& text) {
    QrCode code;
    QRcode* encoded = QRcode_encodeData(static_cast<int>(text.size()),
                                        reinterpret_cast<const unsigned char*>(text.data()), 0, QR_ECLEVEL_M);
    if (!encoded)
        return code;
    code.width = encoded->width;
    code.dark.resize(static_cast<std::size_t>(code.width) * static_cast<std::size_t>(code.width));
    for (std::size_t i = 0; i < code.dark.size(); ++i)
        code.dark[i] = (encoded->data[i] & 1) != 0;
    QRcode_free(encoded);
    return code;
}

}  // namespace vozaro::platform
