#include "midi/cmpRiffStream.h"

#include <cstdio>

namespace vozaro::midi {

namespace {

constexpr std::uint32_t kRiffId = 0x46464952;  // "RIFF"
constexpr std::uint32_t kListId = 0x5453494C;  // "LIST"

std::uint32_t littleEndian32(const std::uint8_t* p) noexcept {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

// The file openFile gave, or the error of a RIFF stream that could not open.
std::FILE* fileOrThrow(std::FILE* file, const std::string& fileName, std::uint16_t mode) {
    if (file == nullptr && mode == kCreate)
        throw FileCreateError("Unable to create " + fileName);
    if (file == nullptr)
        throw FileOpenError("Unable to open " + fileName);
    return file;
}

}  // namespace

std::uint32_t stringToFourCC(const std::string& text) noexcept {
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < 4 && i < text.size(); ++i)
        code |= std::uint32_t{static_cast<std::uint8_t>(text[i])} << (8 * i);
    return code;
}

TRiffChunkInfo::TRiffChunkInfo(const std::string& chunkId) : idText_(chunkId) {
    if (!chunkId.empty() && chunkId.size() != 4)
        throw RiffError("RIFF Chunk ID must be four characters long");
    if (chunkId == "RIFF" || chunkId == "LIST")
        descriptor_.formType = stringToFourCC(chunkId);
    else if (chunkId.size() == 4)
        descriptor_.chunkId = stringToFourCC(chunkId);
}

TRiffStream::TRiffStream(const std::string& fileName, std::uint16_t mode)
    : FileStream(fileOrThrow(openFile(fileName, mode), fileName, mode), fileName) {}

void TRiffStream::Descend(const std::string& chunkId, std::uint32_t flags) {
    auto info = std::make_unique<TRiffChunkInfo>(chunkId);
    const ChunkDescriptor* parent = chunks_.empty() ? nullptr : &chunks_.back()->descriptor();
    if (!descend(info->descriptor(), parent, flags))
        throw RiffError("Unable to descend into " + chunkId);
    chunks_.push_back(std::move(info));
}

// Walks the chunk headers from the current position, skipping chunks that do
// not match (with their pad byte), without leaving the parent's data.
bool TRiffStream::descend(ChunkDescriptor& ck, const ChunkDescriptor* parent, std::uint32_t flags) {
    std::int64_t pos = Seek(0, soCurrent);
    if (pos < 0)
        return false;
    const std::int64_t end =
        parent == nullptr ? INT64_MAX
                          : static_cast<std::int64_t>(parent->dataOffset) + parent->chunkSize;
    for (;;) {
        if (pos + 8 > end || Seek(pos, soBeginning) != pos)
            return false;
        std::uint8_t head[12];
        if (Read(head, 8) != 8)
            return false;
        const std::uint32_t id = littleEndian32(head);
        const std::uint32_t size = littleEndian32(head + 4);
        const bool hasForm = id == kRiffId || id == kListId;
        std::uint32_t form = 0;
        if (hasForm) {
            if (pos + 12 > end || Read(head + 8, 4) != 4)
                return false;
            form = littleEndian32(head + 8);
        }
        bool match;
        if (flags & kFindRiff)
            match = id == kRiffId && (ck.formType == 0 || ck.formType == form);
        else if (flags & kFindList)
            match = id == kListId && (ck.formType == 0 || ck.formType == form);
        else if (flags & kFindChunk)
            match = id == ck.chunkId;
        else
            match = true;
        if (match) {
            ck.chunkId = id;
            ck.chunkSize = size;
            if (hasForm)
                ck.formType = form;
            ck.dataOffset = static_cast<std::uint32_t>(pos + 8);
            ck.flags = 0;
            return Seek(pos + (hasForm ? 12 : 8), soBeginning) >= 0;
        }
        pos += 8 + static_cast<std::int64_t>(size) + (size & 1);
    }
}

}  // namespace vozaro::midi
