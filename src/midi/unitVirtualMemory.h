// TVirtualMemoryStream: a memory stream whose address range is reserved once
// for its largest size (Capacity) and committed in steps of at least
// CommitStep bytes as it grows.  The base address never changes during the
// stream's life, so pointers into it stay valid while it grows, and growing
// never copies.  Newly committed memory reads as zero.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "midi/unitMidiGlobals.h"

namespace vozaro::midi {

// Raised when the stream would grow beyond its capacity ("Size exceeds
// capacity") or the system refuses the reservation or a commit.
class EVirtualMemory : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

class TVirtualMemoryStream : public CustomMemoryStream {
public:
    // Reserves capacity bytes and commits initialSize of them (when > 0).
    TVirtualMemoryStream(std::int32_t capacity, std::int32_t initialSize);
    ~TVirtualMemoryStream() override;

    std::int32_t Capacity() const noexcept { return capacity_; }
    std::int32_t CommitStep() const noexcept { return commitStep_; }

    // Committed size; may exceed the size last asked for by up to
    // CommitStep - 1 bytes, never the capacity.
    std::int64_t committedSize() const noexcept { return memorySize(); }

    // Grows by at least CommitStep bytes (clipped to the capacity) or shrinks
    // to exactly newSize; beyond the capacity throws EVirtualMemory and
    // changes nothing.  The position is left alone.
    void SetSize(std::int64_t newSize);

    // Grows the stream when the write runs past its size, then copies.
    std::int64_t Write(const void* buffer, std::int64_t count) override;

private:
    std::int32_t capacity_;
    std::int32_t commitStep_ = 1024;
};

}  // namespace vozaro::midi
