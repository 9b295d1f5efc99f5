// The channel sink of the capture program: takes every frame the driver delivers, writes it
// to a file that plays as it is, and counts what arrived for the progress lines and summary.
#ifndef QUILLON_TOOLS_CAPTURE_FRAME_FILE_SINK_H
#define QUILLON_TOOLS_CAPTURE_FRAME_FILE_SINK_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "quillon/quillon.h"

namespace quillon_capture {

enum class FrameOutput {
    kStream,        // one elementary stream file: .h264, .m4v or .mjpeg
    kJpegPerFrame,  // one .jpg file per frame
    kDiscard,       // counted, not written
};

// Counters as the main thread reads them while frames arrive.
struct SinkCounters {
    std::uint64_t frames = 0;     // delivered by the driver
    std::uint64_t keyFrames = 0;
    std::uint64_t written = 0;    // bytes written (or that would have been, when discarding)
    std::uint64_t skipped = 0;    // frames before the first key frame, not written
    std::uint64_t signalLost = 0;
    std::int64_t firstFrameMs = -1;  // from Open to the first frame; -1 before it
    std::int64_t lastFrameMs = -1;   // from Open to the latest frame
    bool writeFailed = false;
};

// The driver calls DeliverFrame and OnSignalLost on its channel threads (one at a time per
// channel); Counters may be read from any thread. Open and Close belong to the owner's thread,
// before StartChannel and after StopChannel.
class CFrameFileSink final : public kestrel::ipcapture::IChannelSink {
public:
    // `path` is the stream file, or the stem of the per-frame files ("x" gives x-000001.jpg).
    CFrameFileSink(FrameOutput output, std::string path);
    ~CFrameFileSink();
    CFrameFileSink(const CFrameFileSink&) = delete;
    CFrameFileSink& operator=(const CFrameFileSink&) = delete;

    // Creates the stream file and starts the first-frame clock; false when it cannot be created.
    bool Open();
    void Close();

    void* Destroy(unsigned int flags) override;
    bool DeliverFrame(kestrel::ipcapture::IVideoFrame* frame) override;
    void OnChannelEvent(std::uint32_t event) override;
    void OnSignalLost() override;

    SinkCounters Counters() const;
    const std::string& Path() const { return m_path; }

private:
    bool Write(const std::uint8_t* data, std::uint32_t size, bool h264);
    bool WriteStream(const std::uint8_t* data, std::uint32_t size, bool h264);
    bool WritePicture(const std::uint8_t* data, std::uint32_t size);

    const FrameOutput m_output;
    const std::string m_path;
    std::FILE* m_file = nullptr;  // the stream file; used by the delivering thread only
    std::chrono::steady_clock::time_point m_opened;  // set by Open before any delivery
    bool m_keySeen = false;                          // delivering thread only
    bool m_delimiterHeld = false;  // an H.264 delimiter taken off the previous frame's end
    std::atomic<std::uint64_t> m_frames{0};
    std::atomic<std::uint64_t> m_keyFrames{0};
    std::atomic<std::uint64_t> m_written{0};
    std::atomic<std::uint64_t> m_skipped{0};
    std::atomic<std::uint64_t> m_signalLost{0};
    std::atomic<std::int64_t> m_firstFrameMs{-1};
    std::atomic<std::int64_t> m_lastFrameMs{-1};
    std::atomic<bool> m_writeFailed{false};
};

// True for the codes that start a decodable sequence: every JPEG, H.264 and MPEG-4 key frames.
bool IsKeyFrame(std::uint32_t fourCC);

}  // namespace quillon_capture

#endif
