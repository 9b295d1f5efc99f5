// A host pool that writes down every call the parsers make on it, on its frames and on the
// channel, in one list, so a test can hold the calls to the order the host expects.
#ifndef QUILLON_TESTS_MEDIA_RECORDING_FRAME_POOL_H
#define QUILLON_TESTS_MEDIA_RECORDING_FRAME_POOL_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/driver_interface.h"
#include "runtime/frame_record.h"
#include "support/pool_driver.h"

namespace kestrel::testing_support {

inline std::string FourCCText(std::uint32_t fourCC) {
    return {char(fourCC & 0xFF), char(fourCC >> 8 & 0xFF), char(fourCC >> 16 & 0xFF), char(fourCC >> 24)};
}

class CRecordingFramePool final : public ipcapture::IFramePool {
public:
    // "Call argument" lines in call order.
    std::vector<std::string> calls;
    bool lending = true;  // false: AllocateFrame gives no frame

    void* Destroy(unsigned int) override { return nullptr; }
    std::uint32_t GetFrameCount() override { return 1; }
    ipcapture::IVideoFrame* AllocateFrame(std::uint32_t fourCC, std::uint32_t capacity, const char* source) override {
        calls.push_back("AllocateFrame " + FourCCText(fourCC) + " " + std::to_string(capacity) + " " + source);
        if (!lending) return nullptr;
        m_frame.data.assign(capacity, 0);
        m_frame.size = 0;
        return &m_frame;
    }
    std::uint32_t GetFreeFrameCount() override { return 1; }
    std::uint32_t GetMaxCapacity() override { return 0; }
    void Trim() override {}
    void ReleaseFrame(ipcapture::IVideoFrame*) override { calls.push_back("ReleaseFrame"); }

    // Whether the lent frame's bytes are still those it held at Complete.
    bool UnchangedSinceComplete() const {
        return std::vector<std::uint8_t>(m_frame.data.begin(), m_frame.data.begin() + m_frame.size) == m_frame.completed;
    }

private:

    class CFrame final : public ipcapture::IVideoFrame {
    public:
        explicit CFrame(std::vector<std::string>& calls) : m_calls(calls) {}
        void* Destroy(unsigned int) override { return nullptr; }
        std::uint32_t GetCapacity() override { return static_cast<std::uint32_t>(data.size()); }
        std::uint8_t* GetData() override { return data.data(); }
        std::uint32_t GetDataSize() override { return size; }
        void SetDataSize(std::uint32_t bytes) override {
            size = bytes;
            Note("SetDataSize", bytes);
        }
        void Complete() override {
            completed.assign(data.begin(), data.begin() + std::min<std::size_t>(size, data.size()));
            m_calls.push_back("Complete");
        }
        std::uint64_t GetTimestamp() override { return 0; }
        void SetTimestamp(std::uint64_t) override {}
        std::uint32_t GetFlags() override { return 0; }
        void SetFlags(std::uint32_t) override {}
        void SetFourCC(std::uint32_t fourCC) override { m_calls.push_back("SetFourCC " + FourCCText(fourCC)); }
        std::uint32_t GetFourCC() override { return 0; }
        void SetHeight(std::uint32_t height) override { Note("SetHeight", height); }
        std::uint32_t GetHeight() override { return 0; }
        void SetWidth(std::uint32_t width) override { Note("SetWidth", width); }
        std::uint32_t GetWidth() override { return 0; }
        void SetSizeClass(std::uint32_t sizeClass) override { Note("SetSizeClass", sizeClass); }

        std::vector<std::uint8_t> data;
        std::uint32_t size = 0;
        std::vector<std::uint8_t> completed;  // the bytes at Complete

    private:
        void Note(const char* call, std::uint32_t value) { m_calls.push_back(std::string(call) + " " + std::to_string(value)); }
        std::vector<std::string>& m_calls;
    };

    CFrame m_frame{calls};
};

// The channel side of the same list.
class CCallRecordingChannel final : public IMediaParserClient {
public:
    explicit CCallRecordingChannel(CRecordingFramePool& pool) : m_pool(pool) {}
    bool OnFrame(ipcapture::IVideoFrame*, std::uint32_t, std::uint32_t) override {
        // The host may read the frame once it is complete: its bytes must be in by then.
        m_pool.calls.push_back(m_pool.UnchangedSinceComplete() ? "OnFrame" : "OnFrame, bytes written after Complete");
        return true;
    }
    std::pair<std::uint32_t, std::uint32_t> GetPictureSize() override { return {704, 576}; }

private:
    CRecordingFramePool& m_pool;
};

using CRecordingPoolDriver = TPoolDriver<CRecordingFramePool>;

}  // namespace kestrel::testing_support

#endif
