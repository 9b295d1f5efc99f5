// The channel sink of the capture program: takes every frame the driver delivers, writes it
// to a file that plays as it is, and counts what arrived for the progress lines and summary.
#ifndef QUILLON_TOOLS_CAPTURE_FRAME_FILE_SINK_H
#define QUILLON_TOOLS_CAPTURE_FRAME_FILE_SINK_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "capture/container_file.h"
#include "capture/frame_timing.h"
#include "quillon/quillon.h"

namespace quillon_capture {

enum class FrameOutput {
    kMatroska,      // .mkv with each frame's arrival time
    kMp4,           // .mp4, likewise
    kStream,        // one raw elementary stream file: .h264, .m4v or .mjpeg
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
    std::int64_t firstFrameMs = -1;  // from Start to the first frame; -1 before it
    std::int64_t lastFrameMs = -1;   // from Start to the latest frame
    std::uint32_t width = 0;         // of the latest frame
    std::uint32_t height = 0;
    TimingFigures timing;            // up to the time Counters was called
    bool fileCreated = false;        // the output exists (from the first key frame on)
    bool writeFailed = false;
    std::string failure;             // why writing failed, with the system's reason
};

// The driver calls DeliverFrame and OnSignalLost on its channel threads (one at a time per
// channel); Counters may be read from any thread (one lock guards the counters). Start and
// Close belong to the owner's thread, before StartChannel and after StopChannel.
class CFrameFileSink final : public kestrel::ipcapture::IChannelSink {
public:
    // `path` is the output file, or the stem of the per-frame files ("x" gives x-000001.jpg);
    // `codec` the host's codec number of the frames.
    CFrameFileSink(FrameOutput output, std::string path, std::uint32_t codec);
    ~CFrameFileSink();
    CFrameFileSink(const CFrameFileSink&) = delete;
    CFrameFileSink& operator=(const CFrameFileSink&) = delete;

    // Starts the clock of the frame times. Nothing is created before the first key frame, so a
    // capture that gets no video leaves whatever was at `path` as it was.
    void Start();
    void Close();

    void* Destroy(unsigned int flags) override;
    bool DeliverFrame(kestrel::ipcapture::IVideoFrame* frame) override;
    void OnChannelEvent(std::uint32_t event) override;
    void OnSignalLost() override;

    // The silence since the last frame counts up to `now` (a capture's end, say).
    SinkCounters Counters(std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now()) const;
    const std::string& Path() const { return m_path; }

private:
    std::int64_t ElapsedMs(std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now()) const;
    // False with the reason in `error`.
    bool Write(kestrel::ipcapture::IVideoFrame* frame, std::int64_t timeMs, std::string* error);
    bool CreateOutput(kestrel::ipcapture::IVideoFrame* frame, std::string* error);
    bool WriteStream(const std::uint8_t* data, std::uint32_t size, bool h264, std::string* error);
    bool WritePicture(const std::uint8_t* data, std::uint32_t size, std::string* error);

    const FrameOutput m_output;
    const std::string m_path;
    const std::uint32_t m_codec;
    std::chrono::steady_clock::time_point m_started;  // set by Start before any delivery

    // The delivering thread's, and the owner's after StopChannel.
    std::FILE* m_file = nullptr;                 // the raw stream
    std::unique_ptr<IContainerFile> m_container;
    std::int64_t m_firstWrittenMs = 0;           // container times count from the first frame written
    std::uint64_t m_pictures = 0;
    bool m_keySeen = false;
    bool m_delimiterHeld = false;  // an H.264 delimiter taken off the previous frame's end

    mutable std::mutex m_lock;
    SinkCounters m_counters;  // guarded by m_lock, except its timing (filled in by Counters)
    CFrameTiming m_timing;    // guarded by m_lock
};

// True for the codes that start a decodable sequence: every JPEG, H.264 and MPEG-4 key frames.
bool IsKeyFrame(std::uint32_t fourCC);

// The file name ending for an output of this codec: ".mkv", ".h264", ...; "" for per-frame files.
const char* OutputExtension(FrameOutput output, std::uint32_t codec);

}  // namespace quillon_capture

#endif
