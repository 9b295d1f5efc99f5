#include "capture/frame_file_sink.h"

#include <algorithm>
#include <iterator>

#include "runtime/host_call.h"

namespace quillon_capture {

using namespace kestrel::ipcapture;

bool IsKeyFrame(std::uint32_t fourCC) {
    return fourCC == kFourCCJpeg || fourCC == kFourCCH264Key || fourCC == kFourCCMpeg4Key;
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

}  // namespace

CFrameFileSink::CFrameFileSink(FrameOutput output, std::string path)
    : m_output(output), m_path(std::move(path)) {}

CFrameFileSink::~CFrameFileSink() { Close(); }

bool CFrameFileSink::Open() {
    m_opened = std::chrono::steady_clock::now();
    if (m_output != FrameOutput::kStream) return true;
    m_file = std::fopen(m_path.c_str(), "wb");
    return m_file != nullptr;
}

void CFrameFileSink::Close() {
    if (m_file && std::fclose(m_file) != 0) m_writeFailed = true;
    m_file = nullptr;
}

void* CFrameFileSink::Destroy(unsigned int flags) { return kestrel::DestroyObject(this, flags); }

bool CFrameFileSink::DeliverFrame(IVideoFrame* frame) {
    const auto elapsed = std::chrono::steady_clock::now() - m_opened;
    m_lastFrameMs = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    if (++m_frames == 1) m_firstFrameMs = m_lastFrameMs.load();
    const bool key = IsKeyFrame(frame->GetFourCC());
    if (key) ++m_keyFrames;
    // A file that starts with a difference frame decodes with errors up to the next key frame.
    m_keySeen = m_keySeen || key;
    if (!m_keySeen) {
        ++m_skipped;
        return true;
    }
    const std::uint32_t fourCC = frame->GetFourCC();
    const bool h264 = fourCC == kFourCCH264Key || fourCC == kFourCCH264;
    const std::uint32_t size = frame->GetDataSize();
    if (!m_writeFailed && !Write(frame->GetData(), size, h264)) m_writeFailed = true;
    m_written += size;
    return true;
}

bool CFrameFileSink::WriteStream(const std::uint8_t* data, std::uint32_t size, bool h264) {
    if (!m_file) return false;
    if (m_delimiterHeld &&
        std::fwrite(kAccessUnitDelimiter, 1, sizeof kAccessUnitDelimiter, m_file) != sizeof kAccessUnitDelimiter) {
        return false;
    }
    m_delimiterHeld = h264 && EndsWithDelimiter(data, size);
    const std::uint32_t body = m_delimiterHeld ? size - std::uint32_t(sizeof kAccessUnitDelimiter) : size;
    return std::fwrite(data, 1, body, m_file) == body;
}

bool CFrameFileSink::Write(const std::uint8_t* data, std::uint32_t size, bool h264) {
    switch (m_output) {
        case FrameOutput::kDiscard: return true;
        case FrameOutput::kStream: return WriteStream(data, size, h264);
        case FrameOutput::kJpegPerFrame: return WritePicture(data, size);
    }
    return false;
}

bool CFrameFileSink::WritePicture(const std::uint8_t* data, std::uint32_t size) {
    std::FILE* file = std::fopen(FrameFileName(m_path, m_frames - m_skipped).c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

void CFrameFileSink::OnChannelEvent(std::uint32_t) {}

void CFrameFileSink::OnSignalLost() { ++m_signalLost; }

SinkCounters CFrameFileSink::Counters() const {
    SinkCounters counters;
    counters.frames = m_frames;
    counters.keyFrames = m_keyFrames;
    counters.written = m_written;
    counters.skipped = m_skipped;
    counters.signalLost = m_signalLost;
    counters.firstFrameMs = m_firstFrameMs;
    counters.lastFrameMs = m_lastFrameMs;
    counters.writeFailed = m_writeFailed;
    return counters;
}

}  // namespace quillon_capture
