#include "support/allocation_counter.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(AllocationCounter, SeesAllocationsOfItsOwnThreadOnly)
{
    brevalo::test::AllocationCounter counter;
    std::vector<int> mine(16);
    EXPECT_EQ(counter.count(), 1u);
    std::thread([] { std::vector<int> theirs(16); }).join();
    EXPECT_LE(counter.count(), 2u); // the thread's own start-up may allocate on this thread
}
