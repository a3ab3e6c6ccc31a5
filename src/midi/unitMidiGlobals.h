// Helpers shared by the MIDI units: the data-byte table of channel messages,
// big-endian conversion, and the byte streams songs are read through (a
// memory stream and a plain file stream) with their errors.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace vozaro::midi {

// Number of data bytes of a channel message, indexed by the high four bits
// of its status: 0x8, 0x9, 0xA, 0xB and 0xE have 2, 0xC and 0xD have 1,
// every other entry 0.
inline constexpr std::array<std::uint8_t, 16> StatusDataBytes = {
    0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2, 1, 1, 2, 0};

// Byte-order swaps; MIDI and RIFF-form numbers are big-endian on disk.
constexpr std::uint32_t swapLong(std::uint32_t v) noexcept {
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}
constexpr std::uint16_t swapWord(std::uint16_t v) noexcept {
    return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}

// Big-endian numbers read from raw bytes.
inline std::uint32_t readBigEndian32(const std::uint8_t* p) noexcept {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}
inline std::uint16_t readBigEndian16(const std::uint8_t* p) noexcept {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// --- stream errors ---------------------------------------------------------

// A read that could not deliver the bytes asked for: "Stream read error".
class StreamReadError : public std::runtime_error {
public:
    StreamReadError() : std::runtime_error("Stream read error") {}
};
// A write that could not store every byte: "Stream write error".
class StreamWriteError : public std::runtime_error {
public:
    StreamWriteError() : std::runtime_error("Stream write error") {}
};
// A file that could not be opened; the message names the file.
class FileOpenError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};
// A file that could not be created; the message names the file.
class FileCreateError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// --- streams ---------------------------------------------------------------

// Seek origins as the streams take them.
enum SeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// Open modes of file streams: an access value combined with a sharing value,
// or kCreate alone.  Linux has no mandatory sharing locks; the sharing bits
// are accepted and kept, not enforced.
inline constexpr std::uint16_t kOpenRead = 0x0000;
inline constexpr std::uint16_t kOpenWrite = 0x0001;
inline constexpr std::uint16_t kOpenReadWrite = 0x0002;
inline constexpr std::uint16_t kShareExclusive = 0x0010;
inline constexpr std::uint16_t kShareDenyWrite = 0x0020;
inline constexpr std::uint16_t kShareDenyRead = 0x0030;
inline constexpr std::uint16_t kShareDenyNone = 0x0040;
inline constexpr std::uint16_t kCreate = 0xFFFF;

// A sequence of bytes with a position.  Read and Write move as many bytes as
// they can and return the count; readBuffer/writeBuffer insist on all of them.
class Stream {
public:
    virtual ~Stream() = default;
    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    // Returns the new position; origin is a SeekOrigin.
    virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;

    // Throws StreamReadError unless exactly count bytes were read.
    void readBuffer(void* buffer, std::int64_t count);
    // Throws StreamWriteError unless exactly count bytes were written.
    void writeBuffer(const void* buffer, std::int64_t count);
    // Throws StreamReadError unless count more bytes lie ahead, so that a
    // length read from a file can be checked before anything is allocated.
    void requireAhead(std::int64_t count);

    std::int64_t position() { return Seek(0, soCurrent); }
    void setPosition(std::int64_t pos) { Seek(pos, soBeginning); }
    std::int64_t size();
};

// A stream over a block of memory it does not own: reads and seeks within
// [memory, memory + size).  Writing is left to derived classes.
class CustomMemoryStream : public Stream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;  // writes nothing
    std::int64_t Seek(std::int64_t offset, int origin) override;

    void* memory() const noexcept { return memory_; }
    std::int64_t memorySize() const noexcept { return size_; }

protected:
    void setPointer(void* memory, std::int64_t size) noexcept {
        memory_ = memory;
        size_ = size;
    }
    std::int64_t pos_ = 0;

private:
    void* memory_ = nullptr;
    std::int64_t size_ = 0;
};

// A read-only stream over bytes owned by someone else (tests, fuzzing).
class ReadOnlyMemoryStream : public CustomMemoryStream {
public:
    ReadOnlyMemoryStream(const void* data, std::size_t size) {
        setPointer(const_cast<void*>(data), static_cast<std::int64_t>(size));
    }
};

// A plain file opened with one of the open modes above.  Failing to open
// throws FileOpenError ("Cannot open file \"name\". reason"), failing to
// create FileCreateError ("Cannot create file \"name\". reason").  Read and
// Write return the bytes moved (0 on failure).
class FileStream : public Stream {
public:
    FileStream(const std::string& fileName, std::uint16_t mode);
    ~FileStream() override;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;

    const std::string& fileName() const noexcept { return fileName_; }

protected:
    // Takes over a file opened with openFile (not nullptr).
    FileStream(std::FILE* file, const std::string& fileName) : file_(file), fileName_(fileName) {}
    // Opens fileName as mode says; nullptr (errno set) on failure.
    static std::FILE* openFile(const std::string& fileName, std::uint16_t mode);

private:
    std::FILE* file_ = nullptr;
    std::string fileName_;
};

}  // namespace vozaro::midi
