#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/event.h"
#include "runtime/wait_until.h"
#include "runtime/work_item_thread.h"
#include "runtime/work_item_thread_ex.h"

namespace kestrel {
namespace {

using testing::WaitUntil;

// What happened to the items: processed in which order, and which were deleted.
struct Journal {
    std::mutex mutex;
    std::string processed;
    std::string deleted;
    void Note(std::string& into, char name) {
        std::lock_guard<std::mutex> lock(mutex);
        into += name;
    }
    std::string Processed() {
        std::lock_guard<std::mutex> lock(mutex);
        return processed;
    }
    std::string Deleted() {
        std::lock_guard<std::mutex> lock(mutex);
        return deleted;
    }
};

class Item : public thread::IWorkItem {
public:
    Item(Journal& journal, char name) : journal(journal), name(name) {}
    ~Item() override { journal.Note(journal.deleted, name); }
    Journal& journal;
    const char name;
};

// Processes items by noting their name. Item 'G' (the gate) blocks until Open(); item 'X' throws.
template <typename Base>
class Recorder : public Base {
public:
    using Base::Base;
    ~Recorder() override {
        Open();
        this->Stop();
    }
    void Open() { m_gate.Set(); }
    bool WaitUntilGateTaken() { return m_gateTaken.Wait(5000); }

protected:
    void ProcessWorkItem(thread::IWorkItem* workItem) override {
        auto* item = static_cast<Item*>(workItem);
        item->journal.Note(item->journal.processed, item->name);
        if (item->name == 'G') {
            m_gateTaken.Set();
            m_gate.Wait(CEvent::kInfinite);
        }
        if (item->name == 'X') throw std::runtime_error("item failed");
    }

private:
    CEvent m_gate{false, true};
    CEvent m_gateTaken{false, true};
};

using WorkItemThread = Recorder<thread::CWorkItemThread>;
using WorkItemThreadEx = Recorder<CWorkItemThreadEx>;

TEST(WorkItemThreadTest, UrgentItemsGoBeforeTheQueuedOnes) {
    Journal journal;
    WorkItemThread worker;
    ASSERT_TRUE(worker.Start("output"));
    ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'G'), false));
    ASSERT_TRUE(worker.WaitUntilGateTaken());
    for (auto [name, urgent] : {std::pair{'A', false}, {'B', false}, {'U', true}, {'V', true}, {'X', false},
                                {'C', false}}) {
        ASSERT_TRUE(worker.AddWorkItem(new Item(journal, name), urgent));
    }
    worker.Open();
    ASSERT_TRUE(WaitUntil([&] { return journal.Deleted().size() == 7; }));
    // The throwing item X is dropped like any other; the worker goes on with C.
    EXPECT_EQ(journal.Processed(), "GVUABXC");
    EXPECT_EQ(journal.Deleted(), "GVUABXC");
}

TEST(WorkItemThreadTest, RefusedItemsStayWithTheCaller) {
    Journal journal;
    Item item(journal, 'R');
    WorkItemThread worker(2);
    EXPECT_FALSE(worker.AddWorkItem(&item, false)) << "not started";
    ASSERT_TRUE(worker.Start("output"));
    EXPECT_FALSE(worker.AddWorkItem(nullptr, false));
    ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'G'), false));
    ASSERT_TRUE(worker.WaitUntilGateTaken());
    ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'A'), false));
    ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'B'), true));
    EXPECT_FALSE(worker.AddWorkItem(&item, true)) << "queue full";
    EXPECT_EQ(worker.GetQueuedCount(), 2u);
    worker.Open();
    worker.Stop();
    EXPECT_FALSE(worker.AddWorkItem(&item, false)) << "stopped";
    EXPECT_EQ(journal.Deleted().find('R'), std::string::npos);
}

TEST(WorkItemThreadTest, StopDiscardsQueuedItemsUnprocessedAndLetsTheCurrentOneFinish) {
    Journal journal;
    WorkItemThread worker;
    ASSERT_TRUE(worker.Start("output"));
    ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'G'), false));
    ASSERT_TRUE(worker.WaitUntilGateTaken());
    ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'A'), false));
    ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'B'), false));
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        worker.Open();
    });
    worker.Stop();
    opener.join();
    EXPECT_EQ(journal.Processed(), "G");
    EXPECT_EQ(journal.Deleted(), "GAB");
}

// Ticks as a poll would use them: noted in the journal as 'T', each taking `tickLength`.
class TickingRecorder : public WorkItemThread {
public:
    using Clock = std::chrono::steady_clock;
    TickingRecorder(Journal& journal, std::uint32_t periodMs, std::chrono::milliseconds tickLength = {})
        : WorkItemThread(kDefaultMaxQueued, periodMs), m_journal(journal), m_tickLength(tickLength) {}
    ~TickingRecorder() override { Stop(); }

    struct Tick {
        Clock::time_point begin, end;
    };
    std::vector<Tick> Ticks() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ticks;
    }
    std::atomic<bool> throwOnTick{false};
    std::atomic<bool> exitOnTick{false};

private:
    void OnTick() override {
        Tick tick{Clock::now(), {}};
        m_journal.Note(m_journal.processed, 'T');
        std::this_thread::sleep_for(m_tickLength);
        tick.end = Clock::now();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ticks.push_back(tick);
        }
        if (exitOnTick) RequestExit();
        if (throwOnTick) throw std::runtime_error("tick failed");
    }
    Journal& m_journal;
    const std::chrono::milliseconds m_tickLength;
    std::mutex m_mutex;
    std::vector<Tick> m_ticks;
};

TEST(WorkItemThreadTest, TicksRunAPeriodAfterThePreviousOneAndSurviveAThrow) {
    Journal journal;
    TickingRecorder worker(journal, 30, std::chrono::milliseconds(20));
    worker.throwOnTick = true;
    const auto started = TickingRecorder::Clock::now();
    ASSERT_TRUE(worker.Start("ticking"));
    ASSERT_TRUE(WaitUntil([&] { return worker.Ticks().size() >= 4; }));
    worker.Stop();
    const auto ticks = worker.Ticks();
    EXPECT_GE(ticks[0].begin - started, std::chrono::milliseconds(29));
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        EXPECT_GE(ticks[i].begin - ticks[i - 1].end, std::chrono::milliseconds(29)) << "tick " << i;
    }
}

// Items do not wait for the period, and a stream of items does not hold the tick back.
TEST(WorkItemThreadTest, ItemsGoAtOnceBetweenTicksAndABusyQueueDoesNotStarveTheTick) {
    Journal journal;
    TickingRecorder worker(journal, 100);
    ASSERT_TRUE(worker.Start("ticking"));
    ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'A'), false));
    ASSERT_TRUE(WaitUntil([&] { return journal.Processed() == "A"; }, std::chrono::milliseconds(80)));
    // Each item re-queues the next while the tick falls due.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < until) {
        ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'B'), false));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(worker.Ticks().size(), 2u);
}

// The stop wakes a worker waiting out its period; one asked to end from its own tick ends there.
TEST(WorkItemThreadTest, StopDuringThePeriodOrFromATickEndsAtOnce) {
    Journal journal;
    {
        TickingRecorder worker(journal, 5000);
        ASSERT_TRUE(worker.Start("ticking"));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto stopAt = std::chrono::steady_clock::now();
        worker.Stop();
        EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::milliseconds(1000));
        EXPECT_TRUE(worker.Ticks().empty());
    }
    TickingRecorder worker(journal, 5);
    worker.exitOnTick = true;
    ASSERT_TRUE(worker.Start("ticking"));
    ASSERT_TRUE(WaitUntil([&] { return !worker.Ticks().empty(); }));
    EXPECT_TRUE(worker.Stop());  // joins the thread that ended itself
    EXPECT_EQ(worker.Ticks().size(), 1u);
}

TEST(WorkItemThreadExTest, BoundDropsTheOldestItems) {
    struct Case {
        std::size_t maxQueued;
        const char* queuedAfter;  // the queue behind the gate after adding N
        const char* deletedAtAdd;
    };
    const Case cases[] = {
        {3, "DEN", "ABC"},     // five queued: the three oldest go, two stay, N joins them
        {1, "N", "ABCDE"},
        {0, "ABCDEN", ""},     // no bound
        {6, "ABCDEN", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxQueued);
        Journal journal;
        {
            WorkItemThreadEx worker(5);
            ASSERT_TRUE(worker.Start("ex"));
            ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'G'), 0));
            ASSERT_TRUE(worker.WaitUntilGateTaken());
            for (char name : std::string("ABCDE")) ASSERT_TRUE(worker.AddWorkItem(new Item(journal, name), 0));
            ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'N'), c.maxQueued));
            EXPECT_EQ(journal.Deleted(), c.deletedAtAdd);
            worker.Open();
            ASSERT_TRUE(WaitUntil([&] { return journal.Processed().size() == 1 + std::strlen(c.queuedAfter); }));
            EXPECT_EQ(journal.Processed(), std::string("G") + c.queuedAfter);
        }
    }
}

TEST(WorkItemThreadExTest, TakesEveryItemAndDeletesWhatItCannotRun) {
    Journal journal;
    WorkItemThreadEx worker(5);
    EXPECT_FALSE(worker.AddWorkItem(new Item(journal, 'S'), 0)) << "not started";
    EXPECT_EQ(journal.Deleted(), "S");
    EXPECT_FALSE(worker.AddWorkItem(nullptr, 0));
    ASSERT_TRUE(worker.Start("ex"));
    ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'X'), 0));
    ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'G'), 0));
    ASSERT_TRUE(worker.WaitUntilGateTaken());
    ASSERT_TRUE(worker.AddWorkItem(new Item(journal, 'A'), 0));
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        worker.Open();
    });
    EXPECT_TRUE(worker.Stop());
    opener.join();
    EXPECT_EQ(journal.Processed(), "XG");  // X threw and was dropped; A was cleared by Stop
    EXPECT_EQ(journal.Deleted(), "SXAG");
    EXPECT_FALSE(worker.AddWorkItem(new Item(journal, 'T'), 0));
    EXPECT_EQ(journal.Deleted(), "SXAGT");
}

}  // namespace
}  // namespace kestrel
