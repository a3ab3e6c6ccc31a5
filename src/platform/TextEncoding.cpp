#include "platform/TextEncoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace vozaro::platform {

namespace {

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isUndefinedWindows1252(unsigned char byte) {
    return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

// One conversion descriptor per direction and thread, opened on first use:
// iconv_open is costly and a descriptor must not be shared between threads.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (valid())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts the whole input; false on any invalid or unconvertible sequence.
    bool convert(std::string_view in, std::string& out) {
        if (!valid())
            return false;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        out.resize(in.size() * 4 + 4);
        char* inPtr = const_cast<char*>(in.data());
        size_t inLeft = in.size();
        char* outPtr = out.data();
        size_t outLeft = out.size();
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) ||
            iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1))
            return false;
        out.resize(out.size() - outLeft);
        return true;
    }

private:
    iconv_t cd_;
};

Converter& toUtf8() {
    thread_local Converter converter("UTF-8", "WINDOWS-1252");
    return converter;
}

Converter& fromUtf8() {
    thread_local Converter converter("WINDOWS-1252", "UTF-8");
    return converter;
}

void appendUtf8(std::string& out, unsigned char byte) {
    out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
    out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
}

}  // namespace

std::string windows1252ToUtf8(std::string_view text) {
    if (isAscii(text))
        return std::string(text);
    std::string result;
    std::string piece;
    size_t start = 0;
    // iconv refuses the undefined bytes; convert the runs between them.
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isUndefinedWindows1252(static_cast<unsigned char>(text[i])))
            continue;
        if (i > start) {
            if (toUtf8().convert(text.substr(start, i - start), piece))
                result += piece;
            else  // no codec at all: keep the text readable rather than lose it
                for (char c : text.substr(start, i - start))
                    appendUtf8(result, static_cast<unsigned char>(c));
        }
        if (i < text.size())
            appendUtf8(result, static_cast<unsigned char>(text[i]));
        start = i + 1;
    }
    return result;
}

char16_t windows1252Char(unsigned char byte) {
    // 0x80..0x9F; the five undefined bytes stay the C1 controls of their value.
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : char16_t{byte};
}

std::optional<std::string> utf8ToWindows1252(std::string_view text) {
    if (isAscii(text))
        return std::string(text);
    std::string result;
    std::string piece;
    size_t start = 0;
    // The C1 controls U+0081, U+008D, U+008F, U+0090, U+009D go back to the
    // undefined bytes they came from.
    for (size_t i = 0; i + 1 <= text.size(); ++i) {
        bool c1 = i + 1 < text.size() && static_cast<unsigned char>(text[i]) == 0xC2 &&
                  isUndefinedWindows1252(static_cast<unsigned char>(text[i + 1]));
        if (!c1)
            continue;
        if (i > start) {
            if (!fromUtf8().convert(text.substr(start, i - start), piece))
                return std::nullopt;
            result += piece;
        }
        result.push_back(text[i + 1]);
        start = i + 2;
        ++i;
    }
    if (start < text.size()) {
        if (!fromUtf8().convert(text.substr(start), piece))
            return std::nullopt;
        result += piece;
    }
    return result;
}

}  // namespace vozaro::platform
