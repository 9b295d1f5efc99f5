#include "capture/frame_file_sink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "runtime/host_call.h"

namespace quillon_capture {

using namespace kestrel::ipcapture;

bool IsKeyFrame(std::uint32_t fourCC) {
    return fourCC == kFourCCJpeg || fourCC == kFourCCH264Key || fourCC == kFourCCMpeg4Key;
}

const char* OutputExtension(FrameOutput output, std::uint32_t codec) {
    switch (output) {
        case FrameOutput::kMatroska: return ".mkv";
        case FrameOutput::kMp4: return ".mp4";
        case FrameOutput::kJpegPerFrame: return "";
        case FrameOutput::kStream:
        case FrameOutput::kDiscard: break;
    }
    return codec == kCodecJpeg ? ".mjpeg" : codec == kCodecMpeg4 ? ".m4v" : ".h264";
}

namespace {

// The driver ends every H.264 frame with an access unit delimiter (00 00 01 09 30). In a file a
// delimiter starts the next access unit, so one left at the very end is an access unit without
// a picture, which decoders report as an error: the writer moves each to the next frame's front.
constexpr std::uint8_t kAccessUnitDelimiter[] = {0x00, 0x00, 0x01, 0x09, 0x30};

bool EndsWithDelimiter(const std::uint8_t* data, std::uint32_t size) {
    return size >= sizeof kAccessUnitDelimiter &&
           std::equal(std::begin(kAccessUnitDelimiter), std::end(kAccessUnitDelimiter),
                      data + size - sizeof kAccessUnitDelimiter);
}

std::string FrameFileName(const std::string& stem, std::uint64_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
    return stem + "-" + digits + ".jpg";
}

std::string SystemReason(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

CFrameFileSink::CFrameFileSink(FrameOutput output, std::string path, std::uint32_t codec)
    : m_output(output), m_path(std::move(path)), m_codec(codec) {}

CFrameFileSink::~CFrameFileSink() { Close(); }

void CFrameFileSink::Start() { m_started = std::chrono::steady_clock::now(); }

void CFrameFileSink::Close() {
    std::string error;
    bool failed = m_file && std::fclose(m_file) != 0;
    if (failed) error = SystemReason("closing", m_path);
    m_file = nullptr;
    if (m_container && !m_container->Finish(&error)) failed = true;
    m_container.reset();
    if (!failed) return;
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_counters.writeFailed) m_counters.failure = error;
    m_counters.writeFailed = true;
}

void* CFrameFileSink::Destroy(unsigned int flags) { return kestrel::DestroyObject(this, flags); }

std::int64_t CFrameFileSink::ElapsedMs(std::chrono::steady_clock::time_point now) const {
    const auto elapsed = now - m_started;
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

bool CFrameFileSink::DeliverFrame(IVideoFrame* frame) {
    const std::int64_t now = ElapsedMs();
    const bool key = IsKeyFrame(frame->GetFourCC());
    // A file that starts with a difference frame decodes with errors up to the next key frame.
    m_keySeen = m_keySeen || key;
    bool writeFailed = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_timing.Add(now);
        if (++m_counters.frames == 1) m_counters.firstFrameMs = now;
        m_counters.lastFrameMs = now;
        m_counters.keyFrames += key;
        m_counters.skipped += !m_keySeen;
        m_counters.width = frame->GetWidth();
        m_counters.height = frame->GetHeight();
        if (m_keySeen) m_counters.written += frame->GetDataSize();
        writeFailed = m_counters.writeFailed;
    }
    if (!m_keySeen || writeFailed) return true;
    std::string error;
    const bool written = Write(frame, now, &error);
    std::lock_guard<std::mutex> lock(m_lock);
    m_counters.fileCreated = m_file || m_container || m_pictures > 0;
    if (!written) {
        m_counters.writeFailed = true;
        m_counters.failure = error;
    }
    return true;
}

bool CFrameFileSink::Write(IVideoFrame* frame, std::int64_t timeMs, std::string* error) {
    const std::uint8_t* data = frame->GetData();
    const std::uint32_t size = frame->GetDataSize();
    const std::uint32_t fourCC = frame->GetFourCC();
    switch (m_output) {
        case FrameOutput::kDiscard: return true;
        case FrameOutput::kJpegPerFrame: return WritePicture(data, size, error);
        case FrameOutput::kStream:
            if (!m_file && !CreateOutput(frame, error)) return false;
            return WriteStream(data, size, fourCC == kFourCCH264Key || fourCC == kFourCCH264, error);
        case FrameOutput::kMatroska:
        case FrameOutput::kMp4: break;
    }
    if (!m_container) {
        m_firstWrittenMs = timeMs;
        return CreateOutput(frame, error);  // writes the frame too
    }
    ContainerFrame item{data, size, IsKeyFrame(fourCC), timeMs - m_firstWrittenMs, frame->GetWidth(),
                        frame->GetHeight()};
    return m_container->Write(item, error);
}

bool CFrameFileSink::CreateOutput(IVideoFrame* frame, std::string* error) {
    if (m_output == FrameOutput::kStream) {
        m_file = std::fopen(m_path.c_str(), "wb");
        if (!m_file) *error = SystemReason("cannot create", m_path);
        return m_file != nullptr;
    }
    const ContainerFrame first{frame->GetData(), frame->GetDataSize(), true, 0, frame->GetWidth(),
                               frame->GetHeight()};
    const ContainerFormat format = m_output == FrameOutput::kMp4 ? ContainerFormat::kMp4 : ContainerFormat::kMatroska;
    m_container = CreateContainerFile(format, m_codec, m_path, first, error);
    return m_container != nullptr;
}

bool CFrameFileSink::WriteStream(const std::uint8_t* data, std::uint32_t size, bool h264, std::string* error) {
    bool ok = !m_delimiterHeld ||
              std::fwrite(kAccessUnitDelimiter, 1, sizeof kAccessUnitDelimiter, m_file) == sizeof kAccessUnitDelimiter;
    m_delimiterHeld = h264 && EndsWithDelimiter(data, size);
    const std::uint32_t body = m_delimiterHeld ? size - std::uint32_t(sizeof kAccessUnitDelimiter) : size;
    ok = ok && std::fwrite(data, 1, body, m_file) == body;
    if (!ok) *error = SystemReason("writing", m_path);
    return ok;
}

bool CFrameFileSink::WritePicture(const std::uint8_t* data, std::uint32_t size, std::string* error) {
    const std::string name = FrameFileName(m_path, m_pictures + 1);
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (!file) {
        *error = SystemReason("cannot create", name);
        return false;
    }
    ++m_pictures;
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (!written) *error = SystemReason("writing", name);
    if (std::fclose(file) != 0 && written) {
        *error = SystemReason("closing", name);
        return false;
    }
    return written;
}

void CFrameFileSink::OnChannelEvent(std::uint32_t) {}

void CFrameFileSink::OnSignalLost() {
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_counters.signalLost;
}

SinkCounters CFrameFileSink::Counters(std::chrono::steady_clock::time_point at) const {
    const std::int64_t now = ElapsedMs(at);
    std::lock_guard<std::mutex> lock(m_lock);
    SinkCounters counters = m_counters;
    counters.timing = m_timing.Figures(now);
    return counters;
}

}  // namespace quillon_capture
