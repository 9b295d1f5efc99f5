#include "platform/shared_lock_memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/thread.h"

namespace kestrel::platform {
namespace {

std::string UniqueName() {
    return "quillon_platform_" + std::to_string(CurrentThreadId()) + "_" +
           std::to_string(MonotonicMilliseconds());
}

TEST(SharedLockMemoryTest, OpenersOfOneNameShareZeroFilledBytesAndWakeEachOther) {
    const std::string name = UniqueName();
    SharedLockMemory::Remove(name);
    auto first = SharedLockMemory::Open(name);
    auto second = SharedLockMemory::Open(name);
    ASSERT_TRUE(first && second);
    unsigned char zero[SharedLockMemory::kSize] = {};
    EXPECT_EQ(std::memcmp(first->Data(), zero, sizeof zero), 0);
    static_cast<unsigned char*>(first->Data())[15] = 0xA5;
    EXPECT_EQ(static_cast<unsigned char*>(second->Data())[15], 0xA5);
    // A signal given before anyone waits is kept for the next waiter.
    EXPECT_TRUE(first->Signal());
    EXPECT_TRUE(second->Wait());
    first.reset();
    second.reset();
    SharedLockMemory::Remove(name);
}

TEST(SharedLockMemoryTest, RefusesUnusableNames) {
    const std::string names[] = {"", std::string(88, 'x'), "a/b", "a\\b", std::string("a\0b", 3)};
    for (const std::string& name : names) {
        EXPECT_EQ(SharedLockMemory::Open(name), nullptr) << name;
    }
    EXPECT_TRUE(IsValidSharedLockName(std::string(87, 'x'))) << "12 + 87 = 99 characters fit";
}

}  // namespace
}  // namespace kestrel::platform
