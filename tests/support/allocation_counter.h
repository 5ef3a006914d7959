#pragma once

// Counts operator new calls made by threads that opted in. Linking this object into a test
// executable replaces every unaligned allocation and deallocation function of it, so that each
// pair meets in malloc and free (a sanitizer's own versions are never mixed in); the aligned
// forms stay the library's.

#include <cstdint>

namespace brevalo::test {

// From now on, allocations of the calling thread count (or stop counting).
void countAllocationsOnThisThread(bool on);

// Allocations counted so far, over all threads.
std::uint64_t countedAllocations();

// Counts the calling thread's allocations while it exists.
class AllocationCounter
{
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    std::uint64_t count() const;

private:
    std::uint64_t start_;
};

} // namespace brevalo::test
