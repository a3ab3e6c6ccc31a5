// Windows-1252 <-> UTF-8.
//
// Texts in the catalogue files and in song files are single-byte Windows-1252
// strings; the file system, Qt and the message boxes speak UTF-8.  The
// conversion runs through glibc's iconv ("WINDOWS-1252").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vozaro::platform {

// Every byte has a UTF-8 form: the five bytes Windows-1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same value, as
// Windows itself converts them, so any byte string survives a round trip.
std::string windows1252ToUtf8(std::string_view text);

// The Unicode character of one Windows-1252 byte, the same as
// windows1252ToUtf8 gives; a table look-up, for long lists of texts.
char16_t windows1252Char(unsigned char byte);

// std::nullopt when the text is not valid UTF-8 or holds a character that
// Windows-1252 cannot write (a file with such a name cannot be catalogued).
std::optional<std::string> utf8ToWindows1252(std::string_view text);

}  // namespace vozaro::platform
