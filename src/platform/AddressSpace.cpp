#include "platform/AddressSpace.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace vozaro::platform {

std::size_t pageSize() noexcept {
    static const std::size_t size = [] {
        const long s = ::sysconf(_SC_PAGESIZE);
        return s > 0 ? static_cast<std::size_t>(s) : std::size_t{4096};
    }();
    return size;
}

void* reserveAddressSpace(std::size_t bytes) noexcept {
    if (bytes == 0)
        return nullptr;
    void* p = ::mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool commitAddressSpace(void* base, std::size_t offset, std::size_t bytes) noexcept {
    if (base == nullptr)
        return false;
    if (bytes == 0)
        return true;
    const std::size_t page = pageSize();
    const std::size_t first = offset / page * page;
    const std::size_t end = (offset + bytes + page - 1) / page * page;
    return ::mprotect(static_cast<std::uint8_t*>(base) + first, end - first,
                      PROT_READ | PROT_WRITE) == 0;
}

void decommitAddressSpace(void* base, std::size_t offset, std::size_t bytes) noexcept {
    if (base == nullptr)
        return;
    const std::size_t page = pageSize();
    const std::size_t first = (offset + page - 1) / page * page;
    const std::size_t end = (offset + bytes) / page * page;
    if (end <= first)
        return;
    std::uint8_t* p = static_cast<std::uint8_t*>(base) + first;
    ::madvise(p, end - first, MADV_DONTNEED);
    ::mprotect(p, end - first, PROT_NONE);
}

void releaseAddressSpace(void* base, std::size_t bytes) noexcept {
    if (base != nullptr && bytes != 0)
        ::munmap(base, bytes);
}

}  // namespace vozaro::platform
