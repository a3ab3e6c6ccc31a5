#include "midi/unitMidiGlobals.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vozaro::midi {

void Stream::readBuffer(void* buffer, std::int64_t count) {
    if (count != 0 && Read(buffer, count) != count)
        throw StreamReadError();
}

void Stream::writeBuffer(const void* buffer, std::int64_t count) {
    if (count != 0 && Write(buffer, count) != count)
        throw StreamWriteError();
}

void Stream::requireAhead(std::int64_t count) {
    const std::int64_t here = position();
    const std::int64_t end = size();
    if (here < 0 || end < here || count > end - here)
        throw StreamReadError();
}

std::int64_t Stream::size() {
    const std::int64_t pos = Seek(0, soCurrent);
    const std::int64_t end = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return end;
}

std::int64_t CustomMemoryStream::Read(void* buffer, std::int64_t count) {
    if (count <= 0 || pos_ >= size_ || pos_ < 0)
        return 0;
    const std::int64_t n = std::min(count, size_ - pos_);
    std::memcpy(buffer, static_cast<const std::uint8_t*>(memory_) + pos_, static_cast<std::size_t>(n));
    pos_ += n;
    return n;
}

std::int64_t CustomMemoryStream::Write(const void*, std::int64_t) { return 0; }

std::int64_t CustomMemoryStream::Seek(std::int64_t offset, int origin) {
    switch (origin) {
    case soCurrent: pos_ += offset; break;
    case soEnd: pos_ = size_ + offset; break;
    default: pos_ = offset; break;
    }
    return pos_;
}

namespace {
std::string fileMessage(const char* what, const std::string& fileName) {
    return std::string(what) + " \"" + fileName + "\". " + std::strerror(errno);
}
}  // namespace

std::FILE* FileStream::openFile(const std::string& fileName, std::uint16_t mode) {
    if (mode == kCreate)
        return std::fopen(fileName.c_str(), "w+b");
    // Write and read-write both need an existing file; the sharing bits have
    // no counterpart on Linux.
    return std::fopen(fileName.c_str(), (mode & 0x0003) == kOpenRead ? "rb" : "r+b");
}

FileStream::FileStream(const std::string& fileName, std::uint16_t mode)
    : file_(openFile(fileName, mode)), fileName_(fileName) {
    if (file_ == nullptr && mode == kCreate)
        throw FileCreateError(fileMessage("Cannot create file", fileName));
    if (file_ == nullptr)
        throw FileOpenError(fileMessage("Cannot open file", fileName));
}

FileStream::~FileStream() {
    if (file_ != nullptr)
        std::fclose(file_);
}

std::int64_t FileStream::Read(void* buffer, std::int64_t count) {
    if (count <= 0)
        return 0;
    const std::size_t n = std::fread(buffer, 1, static_cast<std::size_t>(count), file_);
    std::clearerr(file_);
    return static_cast<std::int64_t>(n);
}

std::int64_t FileStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0)
        return 0;
    const std::size_t n = std::fwrite(buffer, 1, static_cast<std::size_t>(count), file_);
    std::clearerr(file_);
    return static_cast<std::int64_t>(n);
}

std::int64_t FileStream::Seek(std::int64_t offset, int origin) {
    const int whence = origin == soCurrent ? SEEK_CUR : origin == soEnd ? SEEK_END : SEEK_SET;
    if (::fseeko(file_, static_cast<off_t>(offset), whence) != 0)
        return -1;
    return static_cast<std::int64_t>(::ftello(file_));
}

}  // namespace vozaro::midi
