#include "webapi/smart_ptr.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Counted {
    explicit Counted(std::atomic<int>& deletions) : m_deletions(deletions) {}
    virtual ~Counted() { ++m_deletions; }
    std::atomic<int>& m_deletions;
};

TEST(TSmartPtrTest, TheLastHolderDeletesOnceEvenAcrossThreads) {
    std::atomic<int> deletions{0};
    {
        TSmartPtr<Counted> origin;
        ASSERT_TRUE(origin.Attach(new Counted(deletions)));
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            TSmartPtr<Counted> mine(origin);
            threads.emplace_back([mine]() mutable {
                for (int i = 0; i < 20000; ++i) {
                    TSmartPtr<Counted> copy(mine);
                    TSmartPtr<Counted> another;
                    another = copy;
                }
                mine.Release();
            });
        }
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(deletions.load(), 0);
    }
    EXPECT_EQ(deletions.load(), 1);
}

TEST(TSmartPtrTest, AttachToAFullHolderLeavesOwnershipWithTheCaller) {
    std::atomic<int> deletions{0};
    TSmartPtr<Counted> holder;
    Counted* second = new Counted(deletions);
    ASSERT_TRUE(holder.Attach(new Counted(deletions)));
    EXPECT_FALSE(holder.Attach(second));
    EXPECT_FALSE(holder.Attach(nullptr));
    delete second;
    holder.Release();
    holder.Release();  // a second release of an empty holder does nothing
    EXPECT_EQ(deletions.load(), 2);
    EXPECT_FALSE(static_cast<bool>(holder));
}

}  // namespace
