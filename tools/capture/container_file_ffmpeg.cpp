#include <algorithm>
#include <cstring>
#include <vector>

#include "capture/container_file.h"
#include "quillon/quillon.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace quillon_capture {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr AVRational kMilliseconds{1, 1000};
constexpr std::uint8_t kNalTypeSps = 7;
constexpr std::uint8_t kNalTypePps = 8;
constexpr std::uint8_t kMpeg4VopStartCode = 0xB6;

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The offset just past the next 00 00 01 at or after `from`, or `size` when there is none.
std::size_t NextStartCode(const std::uint8_t* data, std::size_t size, std::size_t from) {
    for (std::size_t i = from; i + 3 <= size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i + 3;
    }
    return size;
}

// H.264: the key frame's parameter sets, each behind a start code, as the muxers take them to
// build the decoder configuration. MPEG-4: the headers ahead of the first picture.
Bytes DecoderConfiguration(std::uint32_t codec, const ContainerFrame& frame) {
    Bytes configuration;
    if (codec == kestrel::ipcapture::kCodecH264) {
        std::size_t unit = NextStartCode(frame.data, frame.size, 0);
        while (unit < frame.size) {
            std::size_t next = NextStartCode(frame.data, frame.size, unit);
            std::size_t end = next < frame.size ? next - 3 : frame.size;
            while (end > unit && frame.data[end - 1] == 0) --end;  // the zero of a four-byte start code
            const std::uint8_t type = frame.data[unit] & 0x1F;
            if (type == kNalTypeSps || type == kNalTypePps) {
                configuration.insert(configuration.end(), {0, 0, 0, 1});
                configuration.insert(configuration.end(), frame.data + unit, frame.data + end);
            }
            unit = next;
        }
    } else if (codec == kestrel::ipcapture::kCodecMpeg4) {
        for (std::size_t at = NextStartCode(frame.data, frame.size, 0); at < frame.size;
             at = NextStartCode(frame.data, frame.size, at)) {
            if (frame.data[at] == kMpeg4VopStartCode) {
                configuration.assign(frame.data, frame.data + at - 3);
                break;
            }
        }
    }
    return configuration;
}

AVCodecID CodecId(std::uint32_t codec) {
    switch (codec) {
        case kestrel::ipcapture::kCodecJpeg: return AV_CODEC_ID_MJPEG;
        case kestrel::ipcapture::kCodecMpeg4: return AV_CODEC_ID_MPEG4;
        default: return AV_CODEC_ID_H264;
    }
}

class CAvContainerFile final : public IContainerFile {
public:
    ~CAvContainerFile() override {
        std::string ignored;
        Finish(&ignored);
        avformat_free_context(m_context);
    }

    bool Open(ContainerFormat format, std::uint32_t codec, const std::string& path, const ContainerFrame& first,
              std::string* error) {
        const char* muxer = format == ContainerFormat::kMp4 ? "mp4" : "matroska";
        int result = avformat_alloc_output_context2(&m_context, nullptr, muxer, path.c_str());
        if (result < 0) return Fail("cannot create " + path + ": " + AvError(result), error);
        m_stream = avformat_new_stream(m_context, nullptr);
        if (!m_stream) return Fail("cannot create " + path + ": out of memory", error);
        AVCodecParameters* parameters = m_stream->codecpar;
        parameters->codec_type = AVMEDIA_TYPE_VIDEO;
        parameters->codec_id = CodecId(codec);
        parameters->width = int(first.width);
        parameters->height = int(first.height);
        const Bytes configuration = DecoderConfiguration(codec, first);
        if (!configuration.empty()) {
            parameters->extradata =
                static_cast<std::uint8_t*>(av_mallocz(configuration.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!parameters->extradata) return Fail("cannot create " + path + ": out of memory", error);
            std::memcpy(parameters->extradata, configuration.data(), configuration.size());
            parameters->extradata_size = int(configuration.size());
        }
        m_stream->time_base = kMilliseconds;
        result = avio_open(&m_context->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (result < 0) return Fail("cannot create " + path + ": " + AvError(result), error);
        m_path = path;
        result = avformat_write_header(m_context, nullptr);
        if (result < 0) return Fail("cannot write " + path + ": " + AvError(result), error);
        m_headerWritten = true;
        return Write(first, error);
    }

    // Each frame is written when the next one comes, with the time until it as its duration:
    // without one the last frame of an MP4 file falls outside the file's play time.
    bool Write(const ContainerFrame& frame, std::string* error) override {
        // Muxers want rising times; frames that arrive within one millisecond still get their own.
        const std::int64_t time = m_pending ? std::max(frame.timeMs, m_pendingTime + 1) : frame.timeMs;
        if (m_pending && !WritePending(time - m_pendingTime, error)) return false;
        m_pendingData.assign(frame.data, frame.data + frame.size);
        m_pendingKey = frame.key;
        m_pendingTime = time;
        m_pending = true;
        return true;
    }

    bool Finish(std::string* error) override {
        if (!m_context || !m_context->pb) return true;
        // The last frame lasts as long as the one before it.
        const bool flushed =
            !m_pending || !m_headerWritten || WritePending(std::max<std::int64_t>(m_lastDuration, 1), error);
        m_pending = false;
        const int trailer = m_headerWritten ? av_write_trailer(m_context) : 0;
        m_headerWritten = false;
        const int closed = avio_closep(&m_context->pb);
        if (!flushed) return false;
        if (trailer < 0) return Fail("finishing " + m_path + " failed: " + AvError(trailer), error);
        if (closed < 0) return Fail("closing " + m_path + " failed: " + AvError(closed), error);
        return true;
    }

private:
    bool WritePending(std::int64_t durationMs, std::string* error) {
        AVPacket* packet = av_packet_alloc();
        if (!packet) return Fail("writing " + m_path + " failed: out of memory", error);
        packet->data = m_pendingData.data();
        packet->size = int(m_pendingData.size());
        packet->stream_index = 0;
        packet->pts = packet->dts = av_rescale_q(m_pendingTime, kMilliseconds, m_stream->time_base);
        packet->duration = av_rescale_q(durationMs, kMilliseconds, m_stream->time_base);
        packet->flags = m_pendingKey ? AV_PKT_FLAG_KEY : 0;
        m_lastDuration = durationMs;
        const int result = av_write_frame(m_context, packet);
        av_packet_free(&packet);
        if (result < 0) return Fail("writing " + m_path + " failed: " + AvError(result), error);
        return true;
    }

    static bool Fail(const std::string& reason, std::string* error) {
        *error = reason;
        return false;
    }

    AVFormatContext* m_context = nullptr;
    AVStream* m_stream = nullptr;  // owned by m_context
    std::string m_path;
    bool m_headerWritten = false;  // and the trailer not yet
    // The frame written when the next one comes.
    Bytes m_pendingData;
    bool m_pending = false;
    bool m_pendingKey = false;
    std::int64_t m_pendingTime = 0;  // milliseconds
    std::int64_t m_lastDuration = 0;
};

}  // namespace

bool ContainerFilesAvailable() { return true; }

std::unique_ptr<IContainerFile> CreateContainerFile(ContainerFormat format, std::uint32_t codec,
                                                    const std::string& path, const ContainerFrame& first,
                                                    std::string* error) {
    av_log_set_level(AV_LOG_ERROR);
    auto file = std::make_unique<CAvContainerFile>();
    if (!file->Open(format, codec, path, first, error)) return nullptr;
    return file;
}

}  // namespace quillon_capture
