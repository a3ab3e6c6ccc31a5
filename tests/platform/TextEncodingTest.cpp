#include <gtest/gtest.h>

#include "platform/TextEncoding.h"

using namespace vozaro::platform;

TEST(TextEncoding, PortugueseTextAndEuroSignConvertBothWays) {
    const std::string cp1252 = "M\xfasica \xe0 Cora\xe7\xe3o \x80";
    const std::string utf8 = "Música à Coração €";
    EXPECT_EQ(windows1252ToUtf8(cp1252), utf8);
    EXPECT_EQ(utf8ToWindows1252(utf8), cp1252);
    EXPECT_EQ(utf8ToWindows1252("plain.kar"), "plain.kar");
}

TEST(TextEncoding, EveryByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    std::string utf8 = windows1252ToUtf8(all);
    EXPECT_NE(utf8, all);
    EXPECT_EQ(utf8ToWindows1252(utf8), all);
    // the undefined bytes come out as the C1 controls of the same value
    EXPECT_EQ(windows1252ToUtf8("\x81"), "\xc2\x81");
}

TEST(TextEncoding, CharactersOutsideWindows1252AreRefused) {
    EXPECT_FALSE(utf8ToWindows1252("カラオケ.kar").has_value());
    EXPECT_FALSE(utf8ToWindows1252("abc \xff\xfe").has_value());  // not UTF-8
    EXPECT_FALSE(utf8ToWindows1252("caf\xc3").has_value());       // cut in the middle
    EXPECT_FALSE(utf8ToWindows1252("Música \xc2\x81 ✓").has_value());
}

TEST(TextEncoding, TheCharacterTableAgreesWithTheConversion) {
    for (int byte = 0; byte < 256; ++byte) {
        const char16_t table[] = {windows1252Char(static_cast<unsigned char>(byte)), 0};
        std::string viaTable;
        for (char16_t c : std::u16string_view(table, 1)) {
            if (c < 0x80) {
                viaTable.push_back(static_cast<char>(c));
            } else if (c < 0x800) {
                viaTable.push_back(static_cast<char>(0xC0 | (c >> 6)));
                viaTable.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            } else {
                viaTable.push_back(static_cast<char>(0xE0 | (c >> 12)));
                viaTable.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
                viaTable.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            }
        }
        EXPECT_EQ(viaTable, windows1252ToUtf8(std::string(1, static_cast<char>(byte)))) << byte;
    }
}
