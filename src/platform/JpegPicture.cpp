#include "platform/JpegPicture.h"

#include <bit>
#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>

#include <jpeglib.h>

namespace vozaro::platform {

namespace {

// Files larger than this are not pictures anyone means to show.
constexpr std::streamoff kMaxFileBytes = 512ll * 1024 * 1024;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// libjpeg's own handler ends the process; this one returns to decodeJpeg.
[[noreturn]] void errorExit(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

// Warnings are counted in num_warnings and judged after the decode; nothing
// is written to standard error.
void outputMessage(j_common_ptr) {}

int scaleDenominator(const jpeg_decompress_struct& info, const JpegOptions& options) {
    if (options.minWidth <= 0 || options.minHeight <= 0)
        return 1;
    int denominator = 1;
    for (int candidate : {2, 4, 8}) {
        if (static_cast<long long>(info.image_width) / candidate < options.minWidth ||
            static_cast<long long>(info.image_height) / candidate < options.minHeight)
            break;
        denominator = candidate;
    }
    return denominator;
}

// The decode proper.  Every object with a destructor belongs to the caller:
// longjmp returns into this frame, whose own locals that change after setjmp
// are volatile or live behind pointers.
bool decodeInto(const std::uint8_t* data, std::size_t size, const JpegOptions& options,
                std::vector<std::uint8_t>& pixels, int& width, int& height, std::string& error) {
    jpeg_decompress_struct info{};
    ErrorManager manager{};
    info.err = jpeg_std_error(&manager.base);
    manager.base.error_exit = errorExit;
    manager.base.output_message = outputMessage;
    volatile bool created = false;
    if (setjmp(manager.jump)) {
        if (created)
            jpeg_destroy_decompress(&info);
        error = manager.message;
        return false;
    }
    jpeg_create_decompress(&info);
    created = true;
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (static_cast<std::int64_t>(info.image_width) * info.image_height > options.maxPixels) {
        jpeg_destroy_decompress(&info);
        error = "JPEG picture too large";
        return false;
    }
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned>(scaleDenominator(info, options));
    info.out_color_space =
        std::endian::native == std::endian::little ? JCS_EXT_BGRA : JCS_EXT_ARGB;
    jpeg_start_decompress(&info);
    const std::size_t stride = static_cast<std::size_t>(info.output_width) * 4;
    pixels.resize(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    width = static_cast<int>(info.output_width);
    height = static_cast<int>(info.output_height);
    const long warnings = manager.base.num_warnings;
    jpeg_destroy_decompress(&info);
    created = false;
    if (warnings > 0) {
        // A cut-off or damaged file decodes with grey or garbled rows.
        error = "Corrupt JPEG data";
        return false;
    }
    return true;
}

}  // namespace

bool decodeJpeg(const std::uint8_t* data, std::size_t size, const JpegOptions& options,
                DecodedPicture& out, std::string& error) {
    if (size == 0) {
        error = "Empty JPEG file";
        return false;
    }
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    if (!decodeInto(data, size, options, pixels, width, height, error))
        return false;
    out.width = width;
    out.height = height;
    out.pixels = std::move(pixels);
    return true;
}

bool decodeJpegFile(const std::string& path, const JpegOptions& options, DecodedPicture& out,
                    std::string& error) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) {
        error = "Cannot open the picture file";
        return false;
    }
    const std::streamoff length = file.tellg();
    if (length < 0 || length > kMaxFileBytes) {
        error = "Picture file too large";
        return false;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), length)) {
        error = "Cannot read the picture file";
        return false;
    }
    return decodeJpeg(bytes.data(), bytes.size(), options, out, error);
}

}  // namespace vozaro::platform
