// One track of a song: a flat array of packed 15-byte TTrackEvent records in
// time order inside a TVirtualMemoryStream (record i at byte i * 15), so a
// record's address never changes while the track grows.  System exclusive
// and meta-event data live in heap blocks owned by the track and are named in
// the records by 32-bit handles; note partners are named by record index + 1.
//
// Threads: built and changed on the user-interface thread only.  While a
// player plays the track, its timer thread reads records and the
// user-interface thread may rewrite Data1 of a channel message (key change)
// through TEventData::storeData1; readers on the timer thread use loadData1.
// No other change may be made to a track that is being played.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "midi/unitMidiGlobals.h"
#include "midi/unitVirtualMemory.h"

namespace vozaro::midi {

// Parse and insertion errors of a track: "Invalid track start ID",
// "Error in Sysex", "Error in Running Status", "System error inserting
// event", and the refusals of chunks this reader cannot represent.
class EMidiTrackStream : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

#pragma pack(push, 1)

// The 5-byte message part of an event.  Channel messages: Status (with the
// channel in its low four bits), Data1, Data2 (0 for one-data-byte
// messages), Data3 = Data4 = 0.  Status 0xF0, 0xF7 (system exclusive) and
// 0xFF (meta): bytes 1-4 hold the handle of the event's data block, which
// TMidiTrackStream::payload resolves.  Data bytes are kept as read: in a
// malformed song they can be 0x80 or above, so check before indexing a
// 128-entry table with a note number.
struct TEventData {
    std::uint8_t Status;
    std::uint8_t Data1;
    std::uint8_t Data2;
    std::uint8_t Data3;
    std::uint8_t Data4;

    // The data-block handle held in bytes 1-4 (0: none).
    std::uint32_t handle() const noexcept {
        std::uint32_t h;
        std::memcpy(&h, &Data1, sizeof h);
        return h;
    }
    void setHandle(std::uint32_t h) noexcept { std::memcpy(&Data1, &h, sizeof h); }

    // Data1 read and written as one atomic byte, for the note number that the
    // user-interface thread rewrites while the timer thread plays it.
    std::uint8_t loadData1() const noexcept {
        return std::atomic_ref<std::uint8_t>(const_cast<std::uint8_t&>(Data1))
            .load(std::memory_order_relaxed);
    }
    void storeData1(std::uint8_t value) noexcept {
        std::atomic_ref<std::uint8_t>(Data1).store(value, std::memory_order_relaxed);
    }

    // Whether bytes 1-4 are a data-block handle (0xF0, 0xF7, 0xFF).
    bool hasData() const noexcept { return Status == 0xF0 || Status == 0xF7 || Status == 0xFF; }
};

// One event.  Length: 0 for channel messages; system exclusive: bytes in the
// data block; meta: 1 + data bytes (the type byte, byte 0 of the block,
// counts).  Partner: for a paired note-on the index + 1 of its note-off and
// the other way round; 0 when unpaired.
struct TTrackEvent {
    std::int32_t Time;
    std::uint16_t Length;
    TEventData Message;
    std::uint32_t Partner;
};

#pragma pack(pop)

static_assert(sizeof(TEventData) == 5);
static_assert(sizeof(TTrackEvent) == 15);

// FindEvent modes; any other value behaves as feAny.
enum TFindEventMode : int { feFirst = 0, feLast = 1, feAny = 2 };

class TMidiTrackStream : public TVirtualMemoryStream {
public:
    static constexpr std::int32_t kRecordSize = sizeof(TTrackEvent);
    // Room a track read from a file has: 100,000 events, 1,500,000 bytes.
    static constexpr std::int32_t kFileTrackEvents = 100000;

    // An empty track with room for maxEvents records (reserved, not committed).
    explicit TMidiTrackStream(std::int32_t maxEvents);
    ~TMidiTrackStream() override;

    // Reads one "MTrk" chunk from the source's position and leaves the source
    // just after it.  For a freshly created, empty track.  Throws
    // EMidiTrackStream, EVirtualMemory or the source's StreamReadError; on
    // failure the track is partly filled and is to be discarded.
    void LoadFromStream(Stream& source);
    // The same over a chunk already in memory (starting with "MTrk"); returns
    // the number of bytes the chunk took.
    std::size_t loadFromMemory(const std::uint8_t* data, std::size_t size);

    std::int32_t EventCount() const noexcept { return eventCount_; }
    // The record at index, or nullptr outside 0 .. EventCount - 1.
    TTrackEvent* Event(std::int32_t index) const noexcept {
        if (index < 0 || index >= eventCount_)
            return nullptr;
        return records() + index;
    }
    // The record of the track's name (last meta 0x03, else first meta 0x01).
    TTrackEvent* NameEvent() const noexcept { return Event(nameIndex_); }
    std::uint8_t FirstProgram() const noexcept { return firstProgram_; }
    std::uint8_t FirstChannel() const noexcept { return firstChannel_; }
    bool Modified() const noexcept { return modified_; }
    void setModified(bool value) noexcept { modified_ = value; }

    // Index of the first record whose Time >= time, moved to the first (feFirst)
    // or last (feLast) record of exactly that time; -1 when none.
    std::int32_t FindEvent(std::int32_t time, int mode) const noexcept;

    // Inserts one record after every record of the same time but before the
    // final end-of-track record, moving that forward when time is later.  A
    // message with a data block carries a handle from adoptData.
    TTrackEvent* InsertEvent(std::int32_t time, const TEventData& message, std::uint16_t length);
    // Inserts a meta event of the given type with dataLength bytes of data
    // (at most 65,534 bytes, else EMidiTrackStream).
    TTrackEvent* AddMetaEvent(std::int32_t time, std::uint8_t metaType, std::int32_t dataLength,
                              const void* data);
    // Recomputes every Partner link.
    void PairNotes();

    // Takes over a heap data block of length bytes and returns its handle,
    // to be put in a message given to InsertEvent.
    std::uint32_t adoptData(std::unique_ptr<std::uint8_t[]> block);
    // The data block of a system exclusive or meta record (meta: type byte
    // first, then Length - 1 data bytes; no terminator); nullptr for channel
    // messages.  Thread: any, while the track is not changed.
    const std::uint8_t* payload(const TTrackEvent* event) const noexcept;
    // The partner record of a paired note, or nullptr.
    TTrackEvent* partnerOf(const TTrackEvent* event) const noexcept {
        return event == nullptr ? nullptr : Event(static_cast<std::int32_t>(event->Partner) - 1);
    }
    // Index of a record of this track.
    std::int32_t indexOf(const TTrackEvent* event) const noexcept {
        return static_cast<std::int32_t>(event - records());
    }

private:
    TTrackEvent* records() const noexcept { return static_cast<TTrackEvent*>(memory()); }
    void loadChunk(const std::uint8_t* data, std::size_t length);
    void appendEndOfTrack(std::int32_t time);
    void makeRoomForRecord();
    template <bool Store>
    void parse(const std::uint8_t* data, std::size_t length);

    std::int32_t eventCount_ = 0;
    std::int32_t nameIndex_ = -1;
    std::uint8_t firstProgram_ = 0;
    std::uint8_t firstChannel_ = 0;
    bool modified_ = false;
    bool sawEndOfTrack_ = false;
    std::int32_t dataEvents_ = 0;     // data-block events found by the counting pass
    std::int32_t lastTime_ = 0;       // running time at the end of the chunk
    std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;  // handle h is blocks_[h - 1]
};

}  // namespace vozaro::midi
