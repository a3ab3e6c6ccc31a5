#include "midi/unitMidiTrackStream.h"

#include <array>
#include <cstring>
#include <limits>

namespace vozaro::midi {

namespace {

constexpr std::uint8_t kMetaEndOfTrack = 0x2F;
constexpr std::uint8_t kMetaText = 0x01;
constexpr std::uint8_t kMetaTrackName = 0x03;
constexpr std::uint32_t kMaxLength = std::numeric_limits<std::uint16_t>::max();
constexpr std::int64_t kMaxTime = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void truncated() { throw EMidiTrackStream("Unexpected end of track data"); }

// The data block of a meta event: its type byte, then its n data bytes.
std::unique_ptr<std::uint8_t[]> metaBlock(std::uint8_t type, const void* bytes, std::size_t n) {
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[n + 1]);
    block[0] = type;
    if (n > 0)
        std::memcpy(block.get() + 1, bytes, n);
    return block;
}

// Reads the bytes of one chunk with every access bounds-checked.
struct Cursor {
    const std::uint8_t* data;
    std::size_t length;
    std::size_t pos = 0;

    std::uint8_t byte() {
        if (pos >= length)
            truncated();
        return data[pos++];
    }
    // A variable-length quantity of any number of bytes; values beyond
    // 2^31 - 1 saturate there (the caller refuses such times and lengths).
    std::uint32_t quantity() {
        std::uint64_t value = 0;
        std::uint8_t b;
        do {
            b = byte();
            value = (value << 7) | (b & 0x7Fu);
            if (value > static_cast<std::uint64_t>(kMaxTime))
                value = static_cast<std::uint64_t>(kMaxTime) + 1;
        } while (b & 0x80u);
        return static_cast<std::uint32_t>(value);
    }
    // Start of n bytes that must lie inside the chunk.
    const std::uint8_t* take(std::uint32_t n) {
        if (n > length - pos)
            truncated();
        const std::uint8_t* p = data + pos;
        pos += n;
        return p;
    }
};

}  // namespace

TMidiTrackStream::TMidiTrackStream(std::int32_t maxEvents)
    : TVirtualMemoryStream(maxEvents > 0 ? maxEvents * kRecordSize : 0, 0) {}

TMidiTrackStream::~TMidiTrackStream() = default;

void TMidiTrackStream::LoadFromStream(Stream& source) {
    std::uint8_t head[8];
    source.readBuffer(head, 4);
    if (std::memcmp(head, "MTrk", 4) != 0)
        throw EMidiTrackStream("Invalid track start ID");
    source.readBuffer(head + 4, 4);
    const std::uint32_t length = readBigEndian32(head + 4);
    // A length beyond what the source still holds is a short read; checking
    // first keeps a forged length from allocating gigabytes.
    source.requireAhead(length);
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[length == 0 ? 1 : length]);
    source.readBuffer(buffer.get(), length);
    loadChunk(buffer.get(), length);
}

std::size_t TMidiTrackStream::loadFromMemory(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || std::memcmp(data, "MTrk", 4) != 0)
        throw EMidiTrackStream("Invalid track start ID");
    if (size < 8)
        throw StreamReadError();
    const std::uint32_t length = readBigEndian32(data + 4);
    if (length > size - 8)
        throw StreamReadError();
    loadChunk(data + 8, length);
    return 8 + static_cast<std::size_t>(length);
}

void TMidiTrackStream::loadChunk(const std::uint8_t* data, std::size_t length) {
    parse<false>(data, length);
    SetSize(static_cast<std::int64_t>(eventCount_) * kRecordSize);
    blocks_.reserve(blocks_.size() + static_cast<std::size_t>(dataEvents_) + 1);
    parse<true>(data, length);
    if (!sawEndOfTrack_)
        appendEndOfTrack(lastTime_);
    pos_ = static_cast<std::int64_t>(eventCount_) * kRecordSize;
    PairNotes();
}

template <bool Store>
void TMidiTrackStream::parse(const std::uint8_t* data, std::size_t length) {
    Cursor in{data, length};
    std::int64_t time = 0;
    std::uint8_t running = 0;  // 0: no running status yet
    bool sysexOpen = false;
    std::int32_t count = 0;
    std::int32_t dataEvents = 0;
    bool sawChannel = false;
    bool sawProgram = false;
    bool sawEnd = false;
    TTrackEvent* out = Store ? records() : nullptr;

    while (in.pos < in.length) {
        time += in.quantity();
        if (time > kMaxTime)
            throw EMidiTrackStream("Event time out of range");
        const std::uint8_t b = in.byte();
        if (sysexOpen && b != 0xF7)
            throw EMidiTrackStream("Error in Sysex");
        std::uint8_t status;
        const bool fresh = b >= 0x80;
        if (fresh) {
            status = b;
        } else {
            if (running == 0)
                throw EMidiTrackStream("Error in Running Status");
            status = running;
        }

        TTrackEvent event{};
        event.Time = static_cast<std::int32_t>(time);
        event.Message.Status = status;
        if (status < 0xF0) {
            running = status;
            event.Message.Data1 = fresh ? in.byte() : b;
            event.Message.Data2 = StatusDataBytes[status >> 4] > 1 ? in.byte() : 0;
            if (!Store) {
                if (!sawChannel) {
                    sawChannel = true;
                    firstChannel_ = status & 0x0F;
                }
                if (!sawProgram && (status & 0xF0) == 0xC0) {
                    sawProgram = true;
                    firstProgram_ = event.Message.Data1;
                }
            }
        } else if (status == 0xF0 || status == 0xF7) {
            const std::uint32_t n = in.quantity();
            if (n > kMaxLength)
                throw EMidiTrackStream("Event data too long");
            const std::uint8_t* bytes = in.take(n);
            sysexOpen = n == 0 || bytes[n - 1] != 0xF7;
            event.Length = static_cast<std::uint16_t>(n);
            ++dataEvents;
            if (Store) {
                std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[n == 0 ? 1 : n]);
                std::memcpy(block.get(), bytes, n);
                event.Message.setHandle(adoptData(std::move(block)));
            }
        } else if (status == 0xFF) {
            const std::uint8_t type = in.byte();
            const std::uint32_t n = in.quantity();
            if (n >= kMaxLength)
                throw EMidiTrackStream("Event data too long");
            const std::uint8_t* bytes = in.take(n);
            event.Length = static_cast<std::uint16_t>(n + 1);
            ++dataEvents;
            if (type == kMetaEndOfTrack)
                sawEnd = true;
            if (Store) {
                event.Message.setHandle(adoptData(metaBlock(type, bytes, n)));
                if (type == kMetaTrackName || (type == kMetaText && nameIndex_ < 0))
                    nameIndex_ = count;
            }
        }
        // Any other status from 0xF1 to 0xFE is an event without data bytes.

        if (Store)
            std::memcpy(out + count, &event, sizeof event);
        ++count;
    }

    if (!Store) {
        eventCount_ = count;
        dataEvents_ = dataEvents;
        sawEndOfTrack_ = sawEnd;
        lastTime_ = static_cast<std::int32_t>(time);
    }
}

std::int32_t TMidiTrackStream::FindEvent(std::int32_t time, int mode) const noexcept {
    const TTrackEvent* r = records();
    std::int32_t lo = 0;
    std::int32_t hi = eventCount_ - 1;
    std::int32_t hit = -1;
    while (lo <= hi) {
        const std::int32_t mid = lo + (hi - lo) / 2;
        const std::int32_t t = r[mid].Time;
        if (t < time) {
            lo = mid + 1;
        } else if (t > time) {
            hi = mid - 1;
        } else {
            hit = mid;
            break;
        }
    }
    if (hit < 0)
        return lo < eventCount_ ? lo : -1;
    if (mode == feFirst) {
        while (hit > 0 && r[hit - 1].Time == time)
            --hit;
    } else if (mode == feLast) {
        while (hit < eventCount_ - 1 && r[hit + 1].Time == time)
            ++hit;
    }
    return hit;
}

TTrackEvent* TMidiTrackStream::InsertEvent(std::int32_t time, const TEventData& message,
                                           std::uint16_t length) {
    const std::int32_t oldCount = eventCount_;
    if (oldCount > 0) {
        TTrackEvent* last = records() + (oldCount - 1);
        const std::uint8_t* data = payload(last);
        if (last->Message.Status == 0xFF && data != nullptr && data[0] == kMetaEndOfTrack &&
            last->Time < time)
            last->Time = time;
    }
    makeRoomForRecord();

    TTrackEvent* r = records();
    std::int32_t index = 0;
    if (oldCount > 0) {
        index = FindEvent(time, feLast);
        if (index == -1)
            throw EMidiTrackStream("System error inserting event");
        if (index < oldCount - 1 && r[index].Time == time)
            ++index;
        std::memmove(r + index + 1, r + index,
                     static_cast<std::size_t>(oldCount - index) * sizeof(TTrackEvent));
        // Links to records that moved up follow them.
        for (std::int32_t i = 0; i <= oldCount; ++i) {
            if (r[i].Partner > static_cast<std::uint32_t>(index))
                ++r[i].Partner;
        }
        if (nameIndex_ >= index)
            ++nameIndex_;
    }

    TTrackEvent event{};
    event.Time = time;
    event.Length = length;
    event.Message = message;
    std::memcpy(r + index, &event, sizeof event);
    ++eventCount_;
    if (index < oldCount - 1)
        PairNotes();
    modified_ = true;
    return r + index;
}

TTrackEvent* TMidiTrackStream::AddMetaEvent(std::int32_t time, std::uint8_t metaType,
                                            std::int32_t dataLength, const void* data) {
    if (dataLength < 0 || static_cast<std::uint32_t>(dataLength) >= kMaxLength)
        throw EMidiTrackStream("Event data too long");
    const auto n = static_cast<std::size_t>(dataLength);
    TEventData message{};
    message.Status = 0xFF;
    const std::uint32_t handle = adoptData(metaBlock(metaType, data, n));
    message.setHandle(handle);
    try {
        return InsertEvent(time, message, static_cast<std::uint16_t>(n + 1));
    } catch (...) {
        blocks_[handle - 1].reset();
        throw;
    }
}

// A track read without an end-of-track event gets one after its last record.
// (Inserting it by time would put it before a last record of the same time,
// and the track would not end with it.)
void TMidiTrackStream::appendEndOfTrack(std::int32_t time) {
    makeRoomForRecord();
    TTrackEvent event{};
    event.Time = time;
    event.Length = 1;
    event.Message.Status = 0xFF;
    event.Message.setHandle(adoptData(metaBlock(kMetaEndOfTrack, nullptr, 0)));
    std::memcpy(records() + eventCount_, &event, sizeof event);
    ++eventCount_;
    modified_ = true;
}

// Commits the memory for one record beyond the last.
void TMidiTrackStream::makeRoomForRecord() {
    const std::int64_t needed = (static_cast<std::int64_t>(eventCount_) + 1) * kRecordSize;
    if (committedSize() < needed)
        SetSize(needed);
}

void TMidiTrackStream::PairNotes() {
    // Up to five open note-ons per note number, whatever their channel.
    constexpr int kDepth = 5;
    std::array<std::array<std::int32_t, kDepth>, 128> open;
    std::array<std::uint8_t, 128> depth{};
    TTrackEvent* r = records();
    for (std::int32_t i = 0; i < eventCount_; ++i)
        r[i].Partner = 0;
    for (std::int32_t i = 0; i < eventCount_; ++i) {
        const std::uint8_t kind = r[i].Message.Status & 0xF0;
        const std::uint8_t note = r[i].Message.Data1;
        if ((kind != 0x80 && kind != 0x90) || note >= 128)
            continue;
        if (kind == 0x90 && r[i].Message.Data2 != 0) {
            if (depth[note] < kDepth)
                open[note][depth[note]++] = i;
        } else if (depth[note] > 0) {
            const std::int32_t on = open[note][--depth[note]];
            r[on].Partner = static_cast<std::uint32_t>(i) + 1;
            r[i].Partner = static_cast<std::uint32_t>(on) + 1;
        }
    }
}

std::uint32_t TMidiTrackStream::adoptData(std::unique_ptr<std::uint8_t[]> block) {
    blocks_.push_back(std::move(block));
    return static_cast<std::uint32_t>(blocks_.size());
}

const std::uint8_t* TMidiTrackStream::payload(const TTrackEvent* event) const noexcept {
    if (event == nullptr || !event->Message.hasData())
        return nullptr;
    const std::uint32_t h = event->Message.handle();
    if (h == 0 || h > blocks_.size())
        return nullptr;
    return blocks_[h - 1].get();
}

}  // namespace vozaro::midi
