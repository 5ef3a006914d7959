#include "support/allocation_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

thread_local bool counting = false;
std::atomic<std::uint64_t> counted{0};

void* allocate(std::size_t size) noexcept
{
    if (counting) {
        counted.fetch_add(1, std::memory_order_relaxed);
    }
    return std::malloc(size == 0 ? 1 : size);
}

void* allocateOrThrow(std::size_t size)
{
    if (void* p = allocate(size)) {
        return p;
    }
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size)
{
    return allocateOrThrow(size);
}
void* operator new[](std::size_t size)
{
    return allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}

namespace brevalo::test {

void countAllocationsOnThisThread(bool on)
{
    counting = on;
}

std::uint64_t countedAllocations()
{
    return counted.load(std::memory_order_relaxed);
}

AllocationCounter::AllocationCounter() : start_(countedAllocations())
{
    counting = true;
}

AllocationCounter::~AllocationCounter()
{
    counting = false;
}

std::uint64_t AllocationCounter::count() const
{
    return countedAllocations() - start_;
}

} // namespace brevalo::test
