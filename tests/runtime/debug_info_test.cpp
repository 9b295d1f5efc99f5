#include "runtime/debug_info.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "runtime/string_helpers.h"

namespace kestrel {
namespace {

class RecordingSink : public ipcapture::IDebugInfoSink {
public:
    void* Destroy(unsigned int) override { return this; }
    void OnDebugInfo(CDebugInfoIf* info) override {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_NE(info->GetText(), nullptr);
        info->Destroy(1);  // a careless host: must not free the lent object
        received.push_back({info->GetLevel(), info->GetText()});
    }
    struct Message {
        std::uint8_t level;
        std::string text;
    };
    std::mutex mutex;
    std::vector<Message> received;
};

void Send(ipcapture::IDebugInfoSink* sink, std::uint8_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    SendDebugMessage(sink, level, format, args);
    va_end(args);
}

TEST(DebugInfoTest, DeliversLevelAndTextSynchronously) {
    RecordingSink sink;
    Send(&sink, kDebugLevelInfo, "%s: %s is online", "f", "10.0.0.1");
    Send(&sink, kDebugLevelFailure, "%s", "");
    const std::string big(5000, 'z');
    Send(&sink, kDebugLevelFailure, "%s", big.c_str());
    Send(nullptr, kDebugLevelFailure, "dropped %d", 1);
    ASSERT_EQ(sink.received.size(), 3u);
    EXPECT_EQ(sink.received[0].level, 2);
    EXPECT_EQ(sink.received[0].text, "f: 10.0.0.1 is online");
    EXPECT_EQ(sink.received[1].text, "") << "an empty message arrives as an empty string";
    EXPECT_EQ(sink.received[2].text, big);
}

TEST(DebugInfoTest, ConcurrentSendersEachDeliverTheirOwnText) {
    RecordingSink sink;
    constexpr int kThreads = 4, kMessages = 200;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&sink, t] {
            for (int i = 0; i < kMessages; ++i) Send(&sink, kDebugLevelInfo, "thread %d message %d", t, i);
        });
    }
    for (auto& sender : senders) sender.join();
    std::set<std::string> texts;
    for (const auto& message : sink.received) texts.insert(message.text);
    ASSERT_EQ(texts.size(), std::size_t(kThreads) * kMessages);
    EXPECT_EQ(texts.count("thread 3 message 199"), 1u);
}

}  // namespace
}  // namespace kestrel
