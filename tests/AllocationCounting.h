// Counts the allocations of one thread: a replacement of the global
// allocation functions for the test program that includes this header.
// Include it in exactly one file of a test program.
#pragma once

#include <cstdlib>
#include <new>

namespace vozaro::test {

// Counting is on the thread that switched it on, and only there.
inline thread_local bool countAllocations = false;
inline thread_local int allocationsCounted = 0;

}  // namespace vozaro::test

void* operator new(std::size_t size) {
    if (vozaro::test::countAllocations)
        ++vozaro::test::allocationsCounted;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
