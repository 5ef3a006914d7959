#pragma once

// Counts heap allocations made by the current thread while a scope is open. The replacement
// operator new lives in allocation_counter_test.cpp.

#include <cstdint>

namespace brevalo::test {

struct AllocationCounter
{
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    std::uint64_t count() const;
};

} // namespace brevalo::test
