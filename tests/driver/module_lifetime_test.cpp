// The product library as a host loads it: through its exports only, deleted or uninitialised from
// inside its own callbacks, and unloaded and loaded again as an update without a restart does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "host/capability_host.h"
#include "host/reference_host.h"
#include "platform/dynamic_library.h"
#include "runtime/wait_until.h"
#include "support/camera_peer.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using namespace ipcapture;

// The module's exports, looked up by name.
struct Module {
    Module() : library(platform::CDynamicLibrary::Load(QUILLON_LIBRARY_PATH)) {
        if (!library) return;
        create = reinterpret_cast<IIPCaptureDriver* (*)()>(library->Symbol("CreateIPCapture"));
        destroy = reinterpret_cast<void (*)(IIPCaptureDriver*)>(library->Symbol("DeleteIPCapture"));
        initQuery = reinterpret_cast<std::uint32_t (*)(ICapabilityQueryCallback*, bool)>(
            library->Symbol("InitCapabilityQuery"));
        startQuery = reinterpret_cast<std::uint32_t (*)(const char*, std::uint16_t, const char*, const char*,
                                                        ICapabilityResults*)>(library->Symbol("StartCapabilityQuery"));
        uninitQuery = reinterpret_cast<std::uint32_t (*)()>(library->Symbol("UninitCapabilityQuery"));
    }
    bool Complete() const { return create && destroy && initQuery && startQuery && uninitQuery; }

    std::unique_ptr<platform::CDynamicLibrary> library;
    IIPCaptureDriver* (*create)() = nullptr;
    void (*destroy)(IIPCaptureDriver*) = nullptr;
    std::uint32_t (*initQuery)(ICapabilityQueryCallback*, bool) = nullptr;
    std::uint32_t (*startQuery)(const char*, std::uint16_t, const char*, const char*, ICapabilityResults*) = nullptr;
    std::uint32_t (*uninitQuery)() = nullptr;
};

// Counts deliveries and runs the host's reaction inside the first one.
class CReactingSink final : public IChannelSink {
public:
    void* Destroy(unsigned int) override { return this; }
    bool DeliverFrame(IVideoFrame*) override {
        if (reacted.load()) ++callsAfterReaction;
        ++frames;
        if (onFrame) onFrame();
        return true;
    }
    void OnChannelEvent(std::uint32_t) override {}
    void OnSignalLost() override {
        if (reacted.load()) ++callsAfterReaction;
    }
    std::function<void()> onFrame;
    std::atomic<unsigned> frames{0};
    std::atomic<bool> reacted{false};
    std::atomic<unsigned> callsAfterReaction{0};
};

struct DriverFixture {
    DriverFixture(const testing::CameraPeer& camera, std::uint32_t codec, const char* transport)
        : settings([&] {
              quillon_host::HostCameraConfig config;
              config.port = camera.WebPort();
              config.codec = codec;
              config.parameters = {transport};
              return config;
          }()) {}
    quillon_host::CHostDebugSink debug{[this](const quillon_host::DebugRecord& record) {
        if (onMessage) onMessage(record.text);
    }};
    std::function<void(const std::string&)> onMessage;
    quillon_host::CHostFramePool pool{256};
    quillon_host::CHostDriverSettings settings;
    quillon_host::CHostChannelSettings channel{quillon_host::HostChannelConfig{704, 576, 40, 50}};
    CReactingSink sink;
};

enum class Reaction { kDelete, kUninit, kUninitAndInit };

struct CallbackCase {
    const char* name;
    std::uint32_t codec;
    const char* transport;
    bool onMessage;  // inside OnDebugInfo ("is online") rather than DeliverFrame
    Reaction reaction;
};

class DeleteFromCallbackTest : public ::testing::TestWithParam<CallbackCase> {};

TEST_P(DeleteFromCallbackTest, CallReturnsAndNothingFollowsIt) {
    const CallbackCase& c = GetParam();
    testing::CameraPeer camera;
    if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
    Module module;
    ASSERT_TRUE(module.Complete());
    DriverFixture host(camera, c.codec, c.transport);
    IIPCaptureDriver* driver = module.create();
    ASSERT_TRUE(driver->Init(&host.debug, &host.pool, &host.settings));

    std::atomic<bool> returned{false};
    std::atomic<std::size_t> messagesAtReturn{0};
    auto react = [&] {
        if (host.sink.reacted.exchange(true)) return;
        if (c.reaction == Reaction::kDelete) {
            module.destroy(driver);
        } else {
            driver->Uninit();
        }
        if (c.reaction == Reaction::kUninitAndInit) {
            EXPECT_TRUE(driver->Init(&host.debug, &host.pool, &host.settings));
        }
        // The message being delivered is recorded once its callback returns.
        messagesAtReturn.store(host.debug.Messages().size() + (c.onMessage ? 1 : 0));
        returned.store(true);
    };
    if (c.onMessage) {
        host.onMessage = [&](const std::string& text) {
            if (text.find("is online") != std::string::npos) react();
        };
    } else {
        host.sink.onFrame = react;
    }
    ASSERT_TRUE(driver->GetVideoCapture()->StartChannel(0, &host.sink, &host.channel));
    ASSERT_TRUE(testing::WaitUntil([&] { return returned.load(); }, 15000ms)) << "the call never returned";
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(host.sink.callsAfterReaction.load(), 0u);
    EXPECT_EQ(host.debug.Messages().size(), messagesAtReturn.load());

    if (c.reaction == Reaction::kUninitAndInit) {
        // The new objects serve as any others.
        CReactingSink second;
        ASSERT_NE(driver->GetVideoCapture(), nullptr);
        EXPECT_TRUE(driver->GetVideoCapture()->StartChannel(0, &second, &host.channel));
        EXPECT_TRUE(testing::WaitUntil([&] { return second.frames.load() >= 3; }, 15000ms));
        module.destroy(driver);
    } else if (c.reaction == Reaction::kUninit) {
        EXPECT_EQ(driver->GetVideoCapture(), nullptr);
        EXPECT_EQ(driver->GetIOApi(), nullptr);
        module.destroy(driver);
    } else {
        module.destroy(module.create());  // a host thread's call finishes the deferred deletion
    }
    EXPECT_EQ(host.pool.Outstanding(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Driver, DeleteFromCallbackTest,
    ::testing::Values(CallbackCase{"RtpFrameDeletes", kCodecH264, "", false, Reaction::kDelete},
                      CallbackCase{"RtpOnlineMessageDeletes", kCodecH264, "", true, Reaction::kDelete},
                      CallbackCase{"RtpFrameUninits", kCodecH264, "", false, Reaction::kUninit},
                      CallbackCase{"RtpFrameUninitsAndInits", kCodecH264, "", false, Reaction::kUninitAndInit},
                      CallbackCase{"HttpFrameDeletes", kCodecJpeg, "1", false, Reaction::kDelete},
                      CallbackCase{"HttpOnlineMessageUninits", kCodecJpeg, "1", true, Reaction::kUninit}),
    [](const auto& info) { return std::string(info.param.name); });

// An update without a restart: each round loads the module, streams MPEG-4 (whose key frames load
// the picture size reader's library), runs a capability query, and unloads the module again.
// Nothing may stay behind: the size reader's library is unloaded with the last driver, and the
// leak checker of the sanitizer builds sees the query's instance.
TEST(ModuleLifetimeTest, UnloadAndReloadLeavesNothingBehind) {
    testing::CameraPeer camera;
    if (!camera.Problem().empty()) GTEST_SKIP() << camera.Problem();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Module module;
        ASSERT_TRUE(module.Complete());
        DriverFixture host(camera, kCodecMpeg4, "");
        IIPCaptureDriver* driver = module.create();
        ASSERT_TRUE(driver->Init(&host.debug, &host.pool, &host.settings));
        ASSERT_TRUE(driver->GetVideoCapture()->StartChannel(0, &host.sink, &host.channel));
        EXPECT_TRUE(testing::WaitUntil([&] { return host.sink.frames.load() >= 3; }, 15000ms));
        EXPECT_TRUE(platform::CDynamicLibrary::IsLoaded(QUILLON_BRINDLE_PATH));

        quillon_host::CHostQueryCallback callback;
        quillon_host::CHostCapabilityResults results;
        ASSERT_EQ(module.initQuery(&callback, false), 1u);
        ASSERT_EQ(module.startQuery("127.0.0.1", camera.WebPort(), "admin", "admin", &results), 1u);
        EXPECT_TRUE(callback.WaitForEnd(10s));
        EXPECT_EQ(module.uninitQuery(), 1u);

        module.destroy(driver);
        EXPECT_FALSE(platform::CDynamicLibrary::IsLoaded(QUILLON_BRINDLE_PATH));
    }
}

}  // namespace
}  // namespace kestrel
