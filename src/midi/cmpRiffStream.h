// TRiffStream: a stream over a RIFF file that can descend into its chunks,
// as the RIFF MIDI song reader needs ("RIFF" form "RMID", chunk "data").
// TRiffFileStream is the class song files are opened with.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "midi/unitMidiGlobals.h"

namespace vozaro::midi {

// Chunk errors: "Unable to descend into <id>", "RIFF Chunk ID must be four
// characters long".
class RiffError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Descend search flags.
inline constexpr std::uint32_t kFindChunk = 0x0010;
inline constexpr std::uint32_t kFindRiff = 0x0020;
inline constexpr std::uint32_t kFindList = 0x0040;

// The four-character code of up to four characters (first character in the
// lowest byte, as stored in files); fewer than four are padded with zeros.
std::uint32_t stringToFourCC(const std::string& text) noexcept;

// Where a chunk lies in the file.
struct ChunkDescriptor {
    std::uint32_t chunkId = 0;     // four-character code
    std::uint32_t chunkSize = 0;   // bytes of data, as the chunk header says
    std::uint32_t formType = 0;    // form or list type of "RIFF" and "LIST" chunks
    std::uint32_t dataOffset = 0;  // file offset of the chunk's data
    std::uint32_t flags = 0;
};

// One chunk to descend into: the id asked for and, once found, where the
// chunk lies.
class TRiffChunkInfo {
public:
    // id: "" or four characters, else RiffError.  "RIFF" and "LIST" become the
    // descriptor's form type, any other id its chunk id.
    explicit TRiffChunkInfo(const std::string& chunkId);

    const std::string& chunkIdText() const noexcept { return idText_; }
    ChunkDescriptor& descriptor() noexcept { return descriptor_; }
    const ChunkDescriptor& descriptor() const noexcept { return descriptor_; }

private:
    std::string idText_;
    ChunkDescriptor descriptor_;
};

class TRiffStream : public FileStream {
public:
    // mode: kCreate, or an access value with a sharing value (see
    // unitMidiGlobals.h).  Throws FileCreateError "Unable to create <name>"
    // or FileOpenError "Unable to open <name>".  Read, Write and Seek are the
    // file's: a failure moves 0 bytes; Seek origin 1 (current) and 2 (end)
    // pass through, any other counts from the beginning.
    TRiffStream(const std::string& fileName, std::uint16_t mode);

    // Descends into the matching chunk inside the innermost chunk descended
    // so far (or from the current position when none) and leaves the position
    // at the start of its data.  flags: 0 (the chunk at the position),
    // kFindChunk, kFindRiff or kFindList.  Throws RiffError "Unable to descend
    // into <id>" when no such chunk exists.
    void Descend(const std::string& chunkId, std::uint32_t flags);

    // Chunks descended into, innermost last.
    const std::vector<std::unique_ptr<TRiffChunkInfo>>& chunks() const noexcept { return chunks_; }

private:
    bool descend(ChunkDescriptor& ck, const ChunkDescriptor* parent, std::uint32_t flags);
    std::vector<std::unique_ptr<TRiffChunkInfo>> chunks_;
};

class TRiffFileStream : public TRiffStream {
public:
    using TRiffStream::TRiffStream;
};

}  // namespace vozaro::midi
