// HostResolver with a stand-in for the system's resolver that blocks until the test lets it go,
// as a DNS server that does not answer would.
#include "platform/host_resolver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace kestrel::platform {
namespace {

using Clock = std::chrono::steady_clock;
using Result = HostResolver::Result;

// Lookups that hang until Release; each call counted. Shared with the lookup threads, which
// may outlive the test's resolver.
struct HangingDns {
    std::mutex lock;
    std::condition_variable released;
    bool open = false;
    std::atomic<int> calls{0};

    void Release() {
        std::lock_guard<std::mutex> guard(lock);
        open = true;
        released.notify_all();
    }
    static HostResolver::LookupFunction Of(const std::shared_ptr<HangingDns>& dns) {
        return [dns](const std::string& host, std::uint32_t& address) {
            ++dns->calls;
            std::unique_lock<std::mutex> guard(dns->lock);
            dns->released.wait(guard, [&] { return dns->open; });
            address = 0x0A000001;
            return host == "camera.example";
        };
    }
};

HostResolver::WaitForStop StopAfter(std::chrono::milliseconds delay) {
    const auto at = Clock::now() + delay;
    return [at](std::uint32_t) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return Clock::now() >= at;
    };
}

const HostResolver::WaitForStop kNeverStop = [](std::uint32_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return false;
};

TEST(HostResolverTest, DottedAddressesNeedNoLookup) {
    struct Case {
        const char* text;
        bool dotted;
        std::uint32_t address;
    };
    const Case cases[] = {
        {"127.0.0.1", true, 0x7F000001},   {"10.1.2.3", true, 0x0A010203}, {"255.255.255.255", true, 0xFFFFFFFF},
        {"256.0.0.1", false, 0},           {"1.2.3", false, 0},            {"1.2.3.4.5", false, 0},
        {"1.2.3.", false, 0},              {"0001.2.3.4", false, 0},       {"camera.example", false, 0},
        {"", false, 0},
    };
    auto dns = std::make_shared<HangingDns>();
    HostResolver resolver(HangingDns::Of(dns));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint32_t address = 0;
        EXPECT_EQ(ParseDottedIpv4(c.text, address), c.dotted);
        if (!c.dotted) continue;
        EXPECT_EQ(address, c.address);
        EXPECT_EQ(resolver.Resolve(c.text, address, kNeverStop), Result::kResolved);
    }
    EXPECT_EQ(dns->calls.load(), 0);
}

TEST(HostResolverTest, AStopDoesNotWaitForAHangingLookupAndNoSecondOneStarts) {
    auto dns = std::make_shared<HangingDns>();
    {
        HostResolver resolver(HangingDns::Of(dns));
        std::uint32_t address = 0;
        for (int attempt = 0; attempt < 3; ++attempt) {
            SCOPED_TRACE(attempt);
            const auto start = Clock::now();
            EXPECT_EQ(resolver.Resolve("camera.example", address, StopAfter(std::chrono::milliseconds(100))),
                      Result::kStopped);
            EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
        }
        // Each attempt waited for the one lookup still hanging instead of starting another.
        EXPECT_EQ(dns->calls.load(), 1);

        dns->Release();
        EXPECT_EQ(resolver.Resolve("camera.example", address, kNeverStop), Result::kResolved);
        EXPECT_EQ(address, 0x0A000001u);
        EXPECT_EQ(resolver.Resolve("no.such.camera", address, kNeverStop), Result::kNotFound);
    }
    // A resolver destroyed during a lookup leaves it to finish on its own.
    auto hanging = std::make_shared<HangingDns>();
    const auto start = Clock::now();
    {
        HostResolver resolver(HangingDns::Of(hanging));
        std::uint32_t address = 0;
        EXPECT_EQ(resolver.Resolve("camera.example", address, StopAfter(std::chrono::milliseconds(50))),
                  Result::kStopped);
    }
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    hanging->Release();
}

}  // namespace
}  // namespace kestrel::platform
