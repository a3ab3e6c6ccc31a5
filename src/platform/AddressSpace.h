// Reserved address space: a range of addresses taken once for the largest
// size a buffer may reach and made usable (committed) in pieces as it grows,
// so the buffer's base address never moves.  Committed memory reads as zero
// the first time.  On Linux: mmap(PROT_NONE) to reserve, mprotect to commit,
// madvise(MADV_DONTNEED) + PROT_NONE to give pages back, munmap to release.
//
// Offsets and lengths need not be page-aligned: commit covers every page the
// range touches, decommit only the pages lying wholly inside the range.
// None of these functions throws.
#pragma once

#include <cstddef>

namespace vozaro::platform {

// Size of one page of memory.
std::size_t pageSize() noexcept;

// Reserves bytes of address space, none of it usable yet; nullptr on failure.
void* reserveAddressSpace(std::size_t bytes) noexcept;

// Makes [offset, offset + bytes) of a reserved range readable and writable.
bool commitAddressSpace(void* base, std::size_t offset, std::size_t bytes) noexcept;

// Gives the pages wholly inside [offset, offset + bytes) back to the system;
// they stay reserved and read as zero when committed again.
void decommitAddressSpace(void* base, std::size_t offset, std::size_t bytes) noexcept;

// Releases a whole reserved range (base and the size given to reserve).
void releaseAddressSpace(void* base, std::size_t bytes) noexcept;

}  // namespace vozaro::platform
