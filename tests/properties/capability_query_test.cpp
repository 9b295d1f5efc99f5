#include "properties/capability_query.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "host/capability_host.h"
#include "platform/runtime_environment.h"
#include "platform/sockets.h"
#include "platform/thread.h"
#include "properties/camera_test_device.h"
#include "runtime/wait_until.h"
#include "support/loopback_socket.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using quillon_host::CHostCapabilityResults;
using quillon_host::CHostQueryCallback;
using testing::CameraPeer;
using Clock = std::chrono::steady_clock;

// A port where nothing listens: bound, then closed again.
std::uint16_t ClosedPort() {
    if (!platform::SocketsStartup()) return 0;
    std::uint16_t port = 0;
    testing::CloseSocket(testing::ListenLoopback(port));
    platform::SocketsCleanup();
    return port;
}

TEST(CapabilityQueryTest, QueryReportsCompletionOnceWithTheResultsWritten) {
    CameraPeer camera;
    if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
    CCapabilityQuery query;
    CHostQueryCallback callback;
    CHostCapabilityResults results;
    ASSERT_EQ(query.Init(&callback, true), 1u);
    ASSERT_EQ(query.Start("127.0.0.1", camera.WebPort(), "admin", "admin", &results), 1u);
    ASSERT_TRUE(callback.WaitForEnd(10s));
    EXPECT_EQ(query.Uninit(), 1u);
    const auto outcome = callback.Outcome();
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.calls, 1u);
    const auto s = results.Snapshot();
    EXPECT_EQ(s.modelName, "Cisco CIVS-IPC-4500");
    EXPECT_EQ(s.customProperties.at(0).value, "1");  // the standard the host asked for
    EXPECT_EQ(s.connectionItems.at(2), std::to_string(camera.WebPort()));

    // A new query after Uninit needs a new Init.
    CHostQueryCallback second;
    EXPECT_EQ(query.Init(&second, false), 1u);
    EXPECT_EQ(query.Uninit(), 1u);
}

TEST(CapabilityQueryTest, FailuresReportTheirMessages) {
    CameraPeer camera;
    if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
    struct Case {
        const char* what;
        std::uint16_t port;
        const char* password;
        bool withResults;
        const char* message;
    } cases[] = {
        {"nothing listens", ClosedPort(), "admin", true, CCapabilityQuery::kQueryFailed},
        {"login refused", camera.WebPort(), "wrong", true, CCapabilityQuery::kQueryFailed},
        {"no result object", camera.WebPort(), "admin", false, CCapabilityQuery::kSaveFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CCapabilityQuery query;
        CHostQueryCallback callback;
        CHostCapabilityResults results;
        ASSERT_EQ(query.Init(&callback, false), 1u);
        ASSERT_EQ(query.Start("127.0.0.1", c.port, "admin", c.password, c.withResults ? &results : nullptr), 1u);
        ASSERT_TRUE(callback.WaitForEnd(10s));
        query.Uninit();
        const auto outcome = callback.Outcome();
        EXPECT_FALSE(outcome.completed);
        EXPECT_EQ(outcome.calls, 1u);
        EXPECT_EQ(outcome.failureCode, 3u);
        EXPECT_EQ(outcome.failureText, c.message);
        EXPECT_EQ(results.Snapshot().calls, 0u);
    }
}

TEST(CapabilityQueryTest, CameraThatNeverAnswersFailsAfterTheQueryTimeOut) {
    CameraPeer camera;
    if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
    ASSERT_EQ(camera.Execute("never http login"), "OK");
    CCapabilityQuery query;
    CHostQueryCallback callback;
    CHostCapabilityResults results;
    ASSERT_EQ(query.Init(&callback, false), 1u);
    const auto start = Clock::now();
    ASSERT_EQ(query.Start("127.0.0.1", camera.WebPort(), "admin", "admin", &results), 1u);
    ASSERT_TRUE(callback.WaitForEnd(10s));
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 2900ms);
    EXPECT_LT(elapsed, 6s);
    EXPECT_EQ(callback.Outcome().failureText, CCapabilityQuery::kQueryFailed);
    query.Uninit();
}

TEST(CapabilityQueryTest, CallOrderMistakesAreRefusedOrHarmless) {
    CCapabilityQuery query;
    CHostQueryCallback first;
    CHostQueryCallback second;
    CHostCapabilityResults results;
    // Terminate with nothing started.
    EXPECT_EQ(query.Terminate(), 1u);
    // Start without Init: the worker ends at once, nothing is called back.
    EXPECT_EQ(query.Start("127.0.0.1", ClosedPort(), "admin", "admin", &results), 1u);
    EXPECT_EQ(query.Uninit(), 1u);
    EXPECT_EQ(results.Snapshot().calls, 0u);
    // Init twice: the second is refused and the first callback stays.
    EXPECT_EQ(query.Init(&first, false), 1u);
    EXPECT_EQ(query.Init(&second, false), 0u);
    EXPECT_EQ(query.Start("127.0.0.1", ClosedPort(), "admin", "admin", &results), 1u);
    ASSERT_TRUE(first.WaitForEnd(10s));
    EXPECT_EQ(second.Outcome().calls, 0u);
    EXPECT_EQ(query.Uninit(), 1u);
}

// Start's result is the report: a callback made inside the host's own call could meet a lock the
// host holds around it. Nothing is left half-started, so the next Start runs the query.
TEST(CapabilityQueryTest, StartWithoutAThreadFailsAndTheNextStartQueries) {
    CameraPeer camera;
    if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
    CCapabilityQuery query;
    CHostQueryCallback callback;
    CHostCapabilityResults results;
    ASSERT_EQ(query.Init(&callback, false), 1u);
    platform::FailThreadCreations(0, 1);
    EXPECT_EQ(query.Start("127.0.0.1", camera.WebPort(), "admin", "admin", &results), 0u);
    platform::FailThreadCreations(0, 0);
    EXPECT_EQ(callback.Outcome().calls, 0u);
    ASSERT_EQ(query.Start("127.0.0.1", camera.WebPort(), "admin", "admin", &results), 1u);
    ASSERT_TRUE(callback.WaitForEnd(10s));
    EXPECT_TRUE(callback.Outcome().completed);
    EXPECT_EQ(callback.Outcome().calls, 1u);
    EXPECT_EQ(query.Uninit(), 1u);
}

TEST(CapabilityQueryTest, StartWhileAQueryRunsIsRefused) {
    CameraPeer camera;
    if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
    ASSERT_EQ(camera.Execute("delay http DeviceBasicInfo.xml 1000"), "OK");
    CCapabilityQuery query;
    CHostQueryCallback callback;
    CHostCapabilityResults results;
    CHostCapabilityResults other;
    ASSERT_EQ(query.Init(&callback, false), 1u);
    ASSERT_EQ(query.Start("127.0.0.1", camera.WebPort(), "admin", "admin", &results), 1u);
    EXPECT_EQ(query.Start("127.0.0.1", camera.WebPort(), "admin", "admin", &other), 0u);
    ASSERT_TRUE(callback.WaitForEnd(10s));
    EXPECT_TRUE(callback.Outcome().completed);
    EXPECT_EQ(other.Snapshot().calls, 0u);
    // Once it has ended, the same registration may query again.
    // The worker returns just after its callback.
    std::uint32_t started = 0;
    for (auto end = Clock::now() + 5s; started == 0 && Clock::now() < end; std::this_thread::sleep_for(20ms))
        started = query.Start("127.0.0.1", camera.WebPort(), "admin", "admin", &other);
    EXPECT_EQ(started, 1u);
    query.Uninit();
}

TEST(CapabilityQueryTest, UninitDuringAHangingRequestIsBoundedAndNothingFollows) {
    if (platform::IsRunningUnderWine())
        GTEST_SKIP() << "Wine's WinHTTP does not cancel a blocking call when its request handle is closed";
    CameraPeer camera;
    if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
    ASSERT_EQ(camera.Execute("never http DeviceBasicInfo.xml"), "OK");
    CCapabilityQuery query(500);
    CHostQueryCallback callback;
    CHostCapabilityResults results;
    ASSERT_EQ(query.Init(&callback, false), 1u);
    ASSERT_EQ(query.Start("127.0.0.1", camera.WebPort(), "admin", "admin", &results), 1u);
    std::this_thread::sleep_for(300ms);  // the worker is waiting for the camera
    const auto start = Clock::now();
    EXPECT_EQ(query.Uninit(), 1u);
    EXPECT_LT(Clock::now() - start, 1500ms);  // the wait, then the aborted request ends at once
    const auto callsAtReturn = callback.Outcome().calls;
    const auto writesAtReturn = results.Snapshot().calls;
    std::this_thread::sleep_for(3500ms);  // past the query's own time-out
    EXPECT_EQ(callsAtReturn, 0u);  // not even while Uninit was aborting the request
    EXPECT_EQ(callback.Outcome().calls, callsAtReturn);
    EXPECT_EQ(results.Snapshot().calls, writesAtReturn);
    EXPECT_EQ(writesAtReturn, 0u);
}

// A query ended between its steps has part of the tables: completion would read as a camera that
// supports nothing. Terminate makes it fail; Uninit silences it.
TEST(CapabilityQueryTest, QueryCancelledBetweenStepsNeverReportsCompletion) {
    CameraPeer camera;
    if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
    ASSERT_EQ(camera.Execute("delay http DeviceBasicInfo.xml 1000"), "OK");
    for (const bool byUninit : {false, true}) {
        SCOPED_TRACE(byUninit ? "Uninit" : "Terminate");
        CCapabilityQuery query;
        CHostQueryCallback callback;
        CHostCapabilityResults results;
        ASSERT_EQ(query.Init(&callback, false), 1u);
        ASSERT_EQ(query.Start("127.0.0.1", camera.WebPort(), "admin", "admin", &results), 1u);
        std::this_thread::sleep_for(300ms);  // the first step is waiting for the camera
        if (byUninit) {
            EXPECT_EQ(query.Uninit(), 1u);
            EXPECT_EQ(callback.Outcome().calls, 0u);
        } else {
            EXPECT_EQ(query.Terminate(), 1u);
            ASSERT_TRUE(callback.WaitForEnd(10s));
            EXPECT_FALSE(callback.Outcome().completed);
            EXPECT_EQ(callback.Outcome().failureText, CCapabilityQuery::kQueryFailed);
            EXPECT_EQ(query.Uninit(), 1u);
        }
        EXPECT_EQ(results.Snapshot().calls, 0u);
    }
}

// Reports the outcome and runs the host's reaction inside the callback.
class CReactingQueryCallback final : public ipcapture::ICapabilityQueryCallback {
public:
    void* Destroy(unsigned int) override { return this; }
    void OnQueryStarted() override {}
    void OnQueryCompleted() override { Called(); }
    void OnQueryFailed(std::uint32_t, const char*) override { Called(); }

    std::function<void()> reaction;
    std::atomic<unsigned> calls{0};
    std::atomic<bool> reacted{false};

private:
    void Called() {
        ++calls;
        if (reaction) reaction();
        reacted.store(true);
    }
};

// Uninit from inside the callback cannot wait for the worker it runs on, but it ends the
// registration: the next Init and query go to the new callback and results alone.
TEST(CapabilityQueryTest, UninitFromInsideTheCallbackFreesTheRegistration) {
    CCapabilityQuery query;
    CReactingQueryCallback first;
    CHostCapabilityResults firstResults;
    std::atomic<std::uint32_t> inside{0};
    first.reaction = [&] {
        inside.store(query.Uninit());
        // Neither can a new query start on this thread: its worker could not be joined.
        EXPECT_EQ(query.Start("127.0.0.1", ClosedPort(), "admin", "admin", &firstResults), 0u);
    };
    ASSERT_EQ(query.Init(&first, false), 1u);
    ASSERT_EQ(query.Start("127.0.0.1", ClosedPort(), "admin", "admin", &firstResults), 1u);
    ASSERT_TRUE(testing::WaitUntil([&] { return first.reacted.load(); }, 10000ms));
    EXPECT_EQ(inside.load(), 1u);

    CReactingQueryCallback second;
    CHostCapabilityResults secondResults;
    ASSERT_EQ(query.Init(&second, false), 1u);
    ASSERT_EQ(query.Start("127.0.0.1", ClosedPort(), "admin", "admin", &secondResults), 1u);
    EXPECT_TRUE(testing::WaitUntil([&] { return second.calls.load() == 1; }, 10000ms));
    EXPECT_EQ(query.Uninit(), 1u);
    EXPECT_EQ(first.calls.load(), 1u);
}

}  // namespace
}  // namespace kestrel
