#include "midi/unitVirtualMemory.h"

#include <algorithm>
#include <cstring>

#include "platform/AddressSpace.h"

namespace vozaro::midi {

namespace platform = vozaro::platform;

TVirtualMemoryStream::TVirtualMemoryStream(std::int32_t capacity, std::int32_t initialSize)
    : capacity_(capacity < 0 ? 0 : capacity) {
    void* base = nullptr;
    if (capacity_ > 0) {
        base = platform::reserveAddressSpace(static_cast<std::size_t>(capacity_));
        if (base == nullptr)
            throw EVirtualMemory("Unable to reserve memory");
    }
    setPointer(base, 0);
    if (initialSize > 0) {
        try {
            SetSize(initialSize);
        } catch (...) {
            platform::releaseAddressSpace(base, static_cast<std::size_t>(capacity_));
            throw;
        }
    }
}

TVirtualMemoryStream::~TVirtualMemoryStream() {
    platform::releaseAddressSpace(memory(), static_cast<std::size_t>(capacity_));
}

void TVirtualMemoryStream::SetSize(std::int64_t newSize) {
    const std::int64_t size = memorySize();
    if (newSize == size)
        return;
    if (newSize > capacity_)
        throw EVirtualMemory("Size exceeds capacity");
    if (newSize < 0)
        newSize = 0;
    if (newSize > size) {
        std::int64_t delta = newSize - size;
        if (delta < commitStep_)
            delta = commitStep_;
        if (size + delta > capacity_)
            delta = capacity_ - size;
        if (!platform::commitAddressSpace(memory(), static_cast<std::size_t>(size),
                                          static_cast<std::size_t>(delta)))
            throw EVirtualMemory("Unable to commit memory");
        setPointer(memory(), size + delta);
    } else {
        // The pages wholly above newSize go back to the system; the rest of
        // the page holding newSize is zeroed so that growing again reads zero.
        const std::size_t page = platform::pageSize();
        const std::size_t keepEnd = (static_cast<std::size_t>(newSize) + page - 1) / page * page;
        const std::size_t zeroEnd = std::min<std::size_t>(keepEnd, static_cast<std::size_t>(size));
        std::memset(static_cast<std::uint8_t*>(memory()) + newSize, 0,
                    zeroEnd - static_cast<std::size_t>(newSize));
        const std::size_t committedEnd = (static_cast<std::size_t>(size) + page - 1) / page * page;
        platform::decommitAddressSpace(memory(), static_cast<std::size_t>(newSize),
                                       committedEnd - static_cast<std::size_t>(newSize));
        setPointer(memory(), newSize);
    }
}

std::int64_t TVirtualMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0 || pos_ < 0)
        return 0;
    if (pos_ + count > memorySize())
        SetSize(pos_ + count);
    std::memcpy(static_cast<std::uint8_t*>(memory()) + pos_, buffer, static_cast<std::size_t>(count));
    pos_ += count;
    return count;
}

}  // namespace vozaro::midi
