// A reference host: the host-side objects a recording server gives the driver, kept simple and
// observable. Tests and the capture program use them.
#ifndef QUILLON_TOOLS_HOST_REFERENCE_HOST_H
#define QUILLON_TOOLS_HOST_REFERENCE_HOST_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "quillon/quillon.h"

namespace quillon_host {

using namespace kestrel::ipcapture;

struct DebugRecord {
    std::uint8_t level;
    std::string text;
};

// Keeps every message; callable from any driver thread.
class CHostDebugSink final : public IDebugInfoSink {
public:
    // `echo`, when set, also sees each message (for example to print it).
    explicit CHostDebugSink(std::function<void(const DebugRecord&)> echo = nullptr);
    void* Destroy(unsigned int flags) override;
    void OnDebugInfo(CDebugInfoIf* info) override;
    std::vector<DebugRecord> Messages() const;

private:
    std::function<void(const DebugRecord&)> m_echo;
    mutable std::mutex m_mutex;
    std::vector<DebugRecord> m_messages;  // guarded by m_mutex
};

// A lent buffer of exactly the capacity asked for.
class CHostVideoFrame final : public IVideoFrame {
public:
    CHostVideoFrame(std::uint32_t fourCC, std::uint32_t capacity);
    void* Destroy(unsigned int flags) override;
    std::uint32_t GetCapacity() override;
    std::uint8_t* GetData() override;
    std::uint32_t GetDataSize() override;
    void SetDataSize(std::uint32_t bytes) override;
    void Complete() override;
    std::uint64_t GetTimestamp() override;
    void SetTimestamp(std::uint64_t time) override;
    std::uint32_t GetFlags() override;
    void SetFlags(std::uint32_t flags) override;
    void SetFourCC(std::uint32_t fourCC) override;
    std::uint32_t GetFourCC() override;
    void SetHeight(std::uint32_t height) override;
    std::uint32_t GetHeight() override;
    void SetWidth(std::uint32_t width) override;
    std::uint32_t GetWidth() override;
    void SetSizeClass(std::uint32_t sizeClass) override;

    std::uint32_t SizeClass() const { return m_sizeClass; }
    bool IsComplete() const { return m_complete; }
    // Ready to be lent again: the fields as new, the buffer kept and grown to `capacity`.
    void Reuse(std::uint32_t fourCC, std::uint32_t capacity);

private:
    std::vector<std::uint8_t> m_data;
    std::uint32_t m_dataSize = 0;
    std::uint32_t m_fourCC;
    std::uint32_t m_width = 0;
    std::uint32_t m_height = 0;
    std::uint32_t m_sizeClass = 0;
    std::uint32_t m_flags = 0;
    std::uint64_t m_timestamp = 0;
    bool m_complete = false;
};

// Lends frames up to a limit of outstanding ones; counts what it lends and gets back.
class CHostFramePool final : public IFramePool {
public:
    explicit CHostFramePool(std::uint32_t maxOutstanding = 64);
    ~CHostFramePool();
    void* Destroy(unsigned int flags) override;
    std::uint32_t GetFrameCount() override;
    IVideoFrame* AllocateFrame(std::uint32_t fourCC, std::uint32_t capacity,
                               const char* source) override;
    std::uint32_t GetFreeFrameCount() override;
    std::uint32_t GetMaxCapacity() override;
    void Trim() override;
    void ReleaseFrame(IVideoFrame* frame) override;

    std::uint32_t Outstanding() const;
    std::uint64_t Allocated() const;
    std::string LastSource() const;

private:
    const std::uint32_t m_maxOutstanding;
    mutable std::mutex m_mutex;
    std::uint32_t m_outstanding = 0;  // guarded by m_mutex
    std::uint64_t m_allocated = 0;    // guarded by m_mutex
    std::string m_lastSource;         // guarded by m_mutex
};

// What the host configures for one camera.
struct HostCameraConfig {
    std::string address = "127.0.0.1";
    std::uint16_t port = 80;
    std::uint32_t codec = kCodecH264;
    std::string user = "admin";
    std::string password = "admin";
    std::uint32_t channelCount = 1;
    std::uint32_t inputCount = 0;
    std::uint32_t outputCount = 0;
    std::vector<std::string> parameters;  // key 1 first
};

class CHostServerSettings final : public IServerSettings {
public:
    explicit CHostServerSettings(const HostCameraConfig& config) : m_config(config) {}
    void* Destroy(unsigned int flags) override;
    const char* GetServerName() override;
    std::uint32_t GetServerVersion() override;
    std::uint32_t GetChannelCount() override;
    std::uint32_t GetAudioChannelCount() override;
    std::uint32_t GetInputCount() override;
    std::uint32_t GetOutputCount() override;

private:
    const HostCameraConfig& m_config;
};

class CHostCameraSettings final : public ICameraSettings {
public:
    explicit CHostCameraSettings(const HostCameraConfig& config) : m_config(config) {}
    void* Destroy(unsigned int flags) override;
    const char* GetAddress() override;
    std::uint16_t GetPort() override;
    const char* GetModel() override;
    std::uint32_t GetCodec() override;
    const char* GetUser() override;
    const char* GetPassword() override;

private:
    const HostCameraConfig& m_config;
};

// The driver settings of one camera; the config is copied and lives with this object.
class CHostDriverSettings final : public IDriverSettings {
public:
    explicit CHostDriverSettings(HostCameraConfig config);
    void* Destroy(unsigned int flags) override;
    IServerSettings* GetServerSettings() override;
    ICameraSettings* GetCameraSettings() override;
    std::uint32_t GetParameterCount() override;
    const char* GetParameter(std::uint32_t key) override;

private:
    HostCameraConfig m_config;
    CHostServerSettings m_server{m_config};
    CHostCameraSettings m_camera{m_config};
};

class CHostVideoSize final : public IVideoSize {
public:
    CHostVideoSize(std::uint32_t width, std::uint32_t height) : m_width(width), m_height(height) {}
    void* Destroy(unsigned int flags) override;
    std::uint32_t GetWidth() override;
    std::uint32_t GetHeight() override;

private:
    std::uint32_t m_width;
    std::uint32_t m_height;
};

// What the host asks of one channel.
struct HostChannelConfig {
    std::uint32_t width = 352;
    std::uint32_t height = 288;
    std::uint32_t frameInterval = 40;  // ms per frame
    std::uint32_t quality = 50;
};

class CHostChannelSettings final : public IChannelSettings, IVideoFormat, IRateSettings {
public:
    explicit CHostChannelSettings(const HostChannelConfig& config);
    void* Destroy(unsigned int flags) override;
    IVideoFormat* GetVideoFormat() override;
    IRateSettings* GetRateSettings() override;

private:
    std::uint32_t GetCodec() override;
    std::uint32_t GetColorDepth() override;
    IVideoSize* GetSize() override;
    std::uint32_t GetFrameInterval() override;
    std::uint32_t GetBitRate() override;
    std::uint32_t GetQuality() override;

    HostChannelConfig m_config;
    CHostVideoSize m_size;
};

// One frame as the sink received it.
struct ReceivedFrame {
    std::uint32_t fourCC;
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t sizeClass;
    bool complete;
    std::vector<std::uint8_t> data;
};

// Records the frames of one channel; refuses them while `SetAccepting(false)`.
class CRecordingSink final : public IChannelSink {
public:
    void* Destroy(unsigned int flags) override;
    bool DeliverFrame(IVideoFrame* frame) override;
    void OnChannelEvent(std::uint32_t event) override;
    void OnSignalLost() override;

    void SetAccepting(bool accepting);
    // Waits until `count` frames arrived or the time-out passed; true when they did.
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout);
    std::vector<ReceivedFrame> Frames() const;
    std::uint32_t SignalLostCount() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    bool m_accepting = true;              // guarded by m_mutex
    std::vector<ReceivedFrame> m_frames;  // guarded by m_mutex
    std::uint32_t m_signalLost = 0;       // guarded by m_mutex
};

}  // namespace quillon_host

#endif
