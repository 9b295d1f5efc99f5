#include "io/cisco_io.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <functional>
#include <mutex>
#include <thread>

#include "host/io_host.h"
#include "platform/runtime_environment.h"
#include "platform/thread.h"
#include "runtime/string_helpers.h"
#include "runtime/wait_until.h"
#include "support/camera_peer.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using quillon_host::CHostIOCallback;
using quillon_host::InputChange;
using testing::CameraPeer;
using testing::CameraPeerOptions;
using Changes = std::vector<InputChange>;

constexpr std::uint32_t kTestPollMs = 200;

// What the I/O service needs of the driver: the camera and the configured port counts.
class CIoTestDriver final : public IDriver {
public:
    CIoTestDriver(std::uint16_t port, std::uint32_t inputs, std::uint32_t outputs) : m_counts(inputs, outputs) {
        m_device.host = "127.0.0.1";
        m_device.port = port;
        m_device.user = "admin";
        m_device.password = "admin";
    }
    void DebugMessage(std::uint8_t, const char* format, ...) override {
        va_list args;
        va_start(args, format);
        const std::string text = FormatStringV(format, args);
        va_end(args);
        std::lock_guard<std::mutex> guard(m_lock);
        m_messages += text + "\n";
    }
    std::string Messages() {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_messages;
    }
    DEVICE_INFO GetDeviceInfo() override { return m_device; }
    std::pair<std::uint32_t, std::uint32_t> GetIOPortCounts() override { return m_counts; }
    ipcapture::IFramePool* GetFramePool() override { return nullptr; }
    std::uint32_t GetReservedValue() override { return 0; }
    std::uint32_t GetCodec() override { return 0; }
    std::uint32_t GetChannelCount() override { return 1; }
    std::string GetParameter(std::uint32_t) override { return {}; }
    std::int32_t GetParameterInt(std::uint32_t) override { return kNoInteger; }

private:
    DEVICE_INFO m_device;
    const std::pair<std::uint32_t, std::uint32_t> m_counts;
    std::mutex m_lock;
    std::string m_messages;  // guarded by m_lock
};

// A camera with two inputs and two outputs, and the service configured for `inputs` of them.
struct IoFixture {
    explicit IoFixture(std::uint32_t inputs = 2, std::uint32_t pollMs = kTestPollMs)
        : driver(camera.WebPort(), inputs, 2), io(&driver, pollMs) {
        io.SetCallback(&callback);
    }
    // Waits until the camera recorded `expected` as its output triggers.
    bool WaitForTriggers(const std::string& expected) {
        for (auto end = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(20ms)) {
            if (camera.Execute("triggers") == expected) return true;
        }
        return false;
    }

    CameraPeer camera;
    CIoTestDriver driver;
    CHostIOCallback callback;
    CCiscoIO io;
};

#define SKIP_WITHOUT_CAMERA(f) \
    if (!(f).camera.Problem().empty()) GTEST_SKIP() << (f).camera.Problem()

TEST(CiscoIOTest, StartReportsEveryInputAndWritesEveryOutputToOne) {
    IoFixture f;
    SKIP_WITHOUT_CAMERA(f);
    ASSERT_TRUE(f.io.Start());
    // Start polls on the caller's thread: the inputs are known when it returns.
    EXPECT_EQ(f.callback.Changes(), (Changes{{0, 1}, {1, 1}}));
    EXPECT_EQ(f.camera.Execute("triggers"), "OK 1:1 2:1");
    EXPECT_FALSE(f.io.Start());  // already started: no second poll, no writes
    ASSERT_EQ(f.camera.Execute("input 2 2"), "OK");
    ASSERT_TRUE(f.callback.WaitForChanges(3, 5s));
    std::this_thread::sleep_for(3 * std::chrono::milliseconds(kTestPollMs));  // more polls, no news
    EXPECT_EQ(f.callback.Changes(), (Changes{{0, 1}, {1, 1}, {1, 2}}));
    EXPECT_EQ(f.callback.FailureCount(), 0u);
    EXPECT_EQ(f.camera.Execute("triggers"), "OK 1:1 2:1");
    EXPECT_TRUE(f.io.Stop());
}

TEST(CiscoIOTest, OutputsAreWrittenOncePerChangeAndUnknownPortsIgnored) {
    IoFixture f;
    SKIP_WITHOUT_CAMERA(f);
    ASSERT_TRUE(f.io.Start());
    EXPECT_TRUE(f.io.SetOutput(0, 2));
    EXPECT_TRUE(f.io.SetOutput(0, 2));  // already 2: no write
    EXPECT_TRUE(f.io.SetOutput(1, 1));  // already 1 since Start: no write
    EXPECT_TRUE(f.io.SetOutput(5, 2));  // no such output: ignored
    EXPECT_TRUE(f.io.SetOutput(1, 2));
    EXPECT_TRUE(f.WaitForTriggers("OK 1:1 2:1 1:2 2:2"));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(f.camera.Execute("triggers"), "OK 1:1 2:1 1:2 2:2");
    EXPECT_EQ(f.callback.FailureCount(), 0u);
    EXPECT_TRUE(f.io.Stop());
}

TEST(CiscoIOTest, SetOutputRefusesWhileStoppedAndStatesTheCameraLacks) {
    IoFixture f;
    SKIP_WITHOUT_CAMERA(f);
    EXPECT_FALSE(f.io.SetOutput(0, 2));
    ASSERT_TRUE(f.io.Start());
    const unsigned logins = unsigned(std::stoul(f.camera.Execute("count http login").substr(3)));
    // Only active (1) and inactive (2) exist: anything else is the host's mistake, refused at
    // the call, and no reason to fail the camera and log in again.
    for (std::uint32_t state : {0u, 3u, 5u, 0xFFFFFFFFu}) EXPECT_FALSE(f.io.SetOutput(0, state)) << state;
    std::this_thread::sleep_for(3 * std::chrono::milliseconds(kTestPollMs));
    EXPECT_EQ(f.callback.FailureCount(), 0u);
    EXPECT_EQ(f.camera.Execute("count http login"), "OK " + std::to_string(logins));
    EXPECT_EQ(f.camera.Execute("triggers"), "OK 1:1 2:1");
    EXPECT_TRUE(f.io.Stop());
    EXPECT_FALSE(f.io.SetOutput(0, 2));
    EXPECT_EQ(f.camera.Execute("triggers"), "OK 1:1 2:1");
}

TEST(CiscoIOTest, InputCountOtherThanConfiguredFailsEveryPoll) {
    IoFixture f(3);
    SKIP_WITHOUT_CAMERA(f);
    ASSERT_TRUE(f.io.Start());
    EXPECT_EQ(f.callback.FailureCount(), 1u);  // the poll in Start
    EXPECT_TRUE(f.callback.WaitForFailures(4, 5s));
    EXPECT_TRUE(f.callback.Changes().empty());
    EXPECT_TRUE(f.io.Stop());
}

TEST(CiscoIOTest, EndedWebSessionIsFollowedByANewLogin) {
    IoFixture f;
    SKIP_WITHOUT_CAMERA(f);
    ASSERT_TRUE(f.io.Start());
    ASSERT_EQ(f.callback.Changes().size(), 2u);
    ASSERT_EQ(f.camera.Execute("end-web-sessions"), "OK");
    // One failed poll drops every state; the next logs in again and reports the inputs anew.
    ASSERT_TRUE(f.callback.WaitForChanges(4, 5s));
    EXPECT_GE(f.callback.FailureCount(), 1u);
    EXPECT_EQ(f.callback.Changes(), (Changes{{0, 1}, {1, 1}, {0, 1}, {1, 1}}));
    // The poll's new session serves the writes too: no failure, no further login.
    const std::size_t failures = f.callback.FailureCount();
    const std::string logins = f.camera.Execute("count http login");
    EXPECT_TRUE(f.io.SetOutput(0, 2));
    EXPECT_TRUE(f.WaitForTriggers("OK 1:1 2:1 1:2"));
    EXPECT_EQ(f.callback.FailureCount(), failures);
    EXPECT_EQ(f.camera.Execute("count http login"), logins);
    EXPECT_TRUE(f.io.Stop());
}

// A camera's inputs and outputs take one thread and one web session; a write does not wait for
// the next poll.
TEST(CiscoIOTest, OneThreadAndOneSessionServeThePollAndTheWrites) {
    IoFixture f(2, 5000);
    SKIP_WITHOUT_CAMERA(f);
    const unsigned before = platform::OwnThreadCount();
    ASSERT_TRUE(f.io.Start());
    ASSERT_TRUE(testing::WaitUntil([&] { return platform::OwnThreadCount() == before + 1; }, 5s));
    EXPECT_EQ(f.camera.Execute("sessions"), "OK rtsp=0 web=1");
    const auto written = std::chrono::steady_clock::now();
    EXPECT_TRUE(f.io.SetOutput(1, 2));
    ASSERT_TRUE(f.WaitForTriggers("OK 1:1 2:1 2:2"));
    EXPECT_LT(std::chrono::steady_clock::now() - written, 2s);
    EXPECT_EQ(platform::OwnThreadCount(), before + 1);
    EXPECT_TRUE(f.io.Stop());
    EXPECT_EQ(platform::OwnThreadCount(), before);
}

// No thread to be had: Start fails, says why, leaves no session behind, and the next Start
// that gets its thread works as ever.
TEST(CiscoIOTest, StartWithoutAThreadFailsCleanlyAndALaterStartWorks) {
    IoFixture f;
    SKIP_WITHOUT_CAMERA(f);
    platform::FailThreadCreations(0, 1);
    EXPECT_FALSE(f.io.Start());
    platform::FailThreadCreations(0, 0);
    EXPECT_NE(f.driver.Messages().find("no thread could be created for the digital I/O of 127.0.0.1"),
              std::string::npos)
        << f.driver.Messages();
    EXPECT_EQ(f.camera.Execute("sessions"), "OK rtsp=0 web=0");
    EXPECT_FALSE(f.io.SetOutput(0, 2));
    ASSERT_TRUE(f.io.Start());
    EXPECT_TRUE(f.io.SetOutput(0, 2));
    EXPECT_TRUE(f.WaitForTriggers("OK 1:1 2:1 1:1 2:1 1:2"));
    EXPECT_TRUE(f.io.Stop());
}

TEST(CiscoIOTest, StopThenStartReportsAndWritesAgain) {
    IoFixture f;
    SKIP_WITHOUT_CAMERA(f);
    ASSERT_TRUE(f.io.Start());
    ASSERT_TRUE(f.io.Stop());
    EXPECT_EQ(f.camera.Execute("sessions"), "OK rtsp=0 web=0");  // both clients logged out
    ASSERT_TRUE(f.io.Start());
    EXPECT_EQ(f.callback.Changes(), (Changes{{0, 1}, {1, 1}, {0, 1}, {1, 1}}));
    EXPECT_EQ(f.camera.Execute("triggers"), "OK 1:1 2:1 1:1 2:1");
    EXPECT_TRUE(f.io.Stop());
}

// Runs the host's reaction inside the callback numbered `reactAt` (from 1, failures and changes
// counted together).
class CReactingIOCallback final : public ipcapture::ICaptureIOCallback {
public:
    void* Destroy(unsigned int) override { return this; }
    void OnInputStateChanged(std::uint32_t, std::uint32_t) override { Called(); }
    void OnIOFailure() override { Called(); }

    std::function<void()> reaction;
    unsigned reactAt = 1;
    std::atomic<unsigned> calls{0};
    std::atomic<bool> reacted{false};
    std::atomic<unsigned> callsAfterReaction{0};

private:
    void Called() {
        if (reacted.load()) ++callsAfterReaction;
        if (++calls == reactAt && reaction) {
            reaction();
            reacted.store(true);
        }
    }
};

// Stop from inside a callback cannot wait for the thread it is called on; it must still stop the
// service for good and leave it startable, from the host's thread in Start or the input thread.
TEST(CiscoIOTest, StopFromInsideACallbackStopsAndAllowsTheNextStart) {
    struct Case {
        const char* name;
        std::uint32_t inputs;  // 3: every poll fails; 2: the inputs are reported
        unsigned reactAt;      // the callbacks of Start's own poll come first
        bool startSucceeds;    // a stop inside Start's callbacks fails that start
        const char* cameraChange;
    };
    const Case cases[] = {
        {"failure in Start", 3, 1, false, nullptr},
        {"failure on the input thread", 3, 2, true, nullptr},
        {"change on the input thread", 2, 3, true, "input 2 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CameraPeer camera;
        if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
        CIoTestDriver driver(camera.WebPort(), c.inputs, 2);
        CCiscoIO io(&driver, kTestPollMs);
        CReactingIOCallback callback;
        callback.reactAt = c.reactAt;
        std::atomic<bool> stopResult{false};
        callback.reaction = [&] { stopResult.store(io.Stop()); };
        io.SetCallback(&callback);
        EXPECT_EQ(io.Start(), c.startSucceeds);
        if (c.cameraChange) {
            ASSERT_EQ(camera.Execute(c.cameraChange), "OK");
        }
        ASSERT_TRUE(testing::WaitUntil([&] { return callback.reacted.load(); }, 5s));
        EXPECT_TRUE(stopResult.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * kTestPollMs));
        EXPECT_EQ(callback.callsAfterReaction.load(), 0u);  // stopped: no poll reports anything
        EXPECT_FALSE(io.SetOutput(0, 2));

        callback.reaction = nullptr;
        const unsigned before = callback.calls.load();
        EXPECT_TRUE(io.Start());
        EXPECT_TRUE(testing::WaitUntil([&] { return callback.calls.load() > before; }, 5s));
        EXPECT_TRUE(io.Stop());
    }
}

TEST(CiscoIOTest, StopIsBoundedWhileTheCameraHangsAndNothingFollowsIt) {
    if (platform::IsRunningUnderWine())
        GTEST_SKIP() << "Wine's WinHTTP does not cancel a blocking call when its request handle is closed";
    IoFixture f;
    SKIP_WITHOUT_CAMERA(f);
    ASSERT_TRUE(f.io.Start());
    ASSERT_EQ(f.camera.Execute("never http IOPortStatus.xml"), "OK");
    ASSERT_EQ(f.camera.Execute("never http IOPortData.xml"), "OK");
    EXPECT_TRUE(f.io.SetOutput(0, 2));
    std::this_thread::sleep_for(3 * std::chrono::milliseconds(kTestPollMs));  // both threads now wait
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(f.io.Stop());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);  // the camera's time-out is 5 s
    const auto changes = f.callback.Changes().size();
    const auto failures = f.callback.FailureCount();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(f.callback.Changes().size(), changes);
    EXPECT_EQ(f.callback.FailureCount(), failures);
    EXPECT_EQ(failures, 0u);  // requests broken off by Stop are no camera failure
}

// Every request hangs or trickles, the logouts of Stop included: Stop still returns soon (the
// camera's time-out is 5 s, and a trickled answer takes minutes).
TEST(CiscoIOTest, StopIsBoundedWhateverTheCameraDoesWithEveryRequest) {
    if (platform::IsRunningUnderWine())
        GTEST_SKIP() << "Wine's WinHTTP does not cancel a blocking call when its request handle is closed";
    for (const char* fault : {"never http *", "trickle http * 300"}) {
        SCOPED_TRACE(fault);
        IoFixture f;
        SKIP_WITHOUT_CAMERA(f);
        ASSERT_TRUE(f.io.Start());
        ASSERT_EQ(f.camera.Execute(fault), "OK");
        EXPECT_TRUE(f.io.SetOutput(0, 2));
        std::this_thread::sleep_for(3 * std::chrono::milliseconds(kTestPollMs));  // both threads now wait
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(f.io.Stop());
        EXPECT_LT(std::chrono::steady_clock::now() - start,
                  2 * std::chrono::milliseconds(CCiscoClient::kLogoutDeadlineMs) + 1s);
        EXPECT_EQ(f.callback.FailureCount(), 0u);
    }
}

TEST(CiscoIOTest, AbsurdPortCountsFromTheHostAreBounded) {
    CameraPeer camera;
    if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
    CIoTestDriver driver(camera.WebPort(), 0xFFFFFFFF, 0xFFFFFFFF);
    CHostIOCallback callback;
    CCiscoIO io(&driver, kTestPollMs);
    io.SetCallback(&callback);
    ASSERT_TRUE(io.Start());  // returns: the two real outputs and the rest refused by the camera
    EXPECT_EQ(io.GetOutputCount(), 0xFFFFFFFFu);
    // The poll fails (two inputs, not kMaxPorts), then every write past the camera's two outputs.
    EXPECT_EQ(callback.FailureCount(), 1 + CIOBase::kMaxPorts - 2);
    EXPECT_TRUE(io.Stop());
}

TEST(CiscoIOTest, SetCallbackRefusesNull) {
    IoFixture f;
    SKIP_WITHOUT_CAMERA(f);
    EXPECT_FALSE(f.io.SetCallback(nullptr));
    ASSERT_TRUE(f.io.Start());  // the earlier callback still hears the inputs
    EXPECT_EQ(f.callback.Changes().size(), 2u);
    EXPECT_TRUE(f.io.Stop());
}

}  // namespace
}  // namespace kestrel
