// What the media parsers' tests stand in for: a driver that only lends the reference host's
// frame pool, and a channel that records every frame handed to it.
#ifndef QUILLON_TESTS_MEDIA_MEDIA_TEST_HOST_H
#define QUILLON_TESTS_MEDIA_MEDIA_TEST_HOST_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/reference_host.h"
#include "rtppack/rtppack.h"
#include "runtime/driver_interface.h"
#include "support/pool_driver.h"
#include "runtime/frame_record.h"

namespace kestrel::testing_support {

inline rtppack::Bytes ReadTestData(const std::string& name) {
    return rtppack::ReadFile(std::string(QUILLON_TESTDATA_DIR) + "/" + name);
}

using CPoolDriver = TPoolDriver<quillon_host::CHostFramePool>;

struct RecordedFrame {
    std::uint32_t fourCC;
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t capacity;
    rtppack::Bytes data;
};

// Serves both the RTP parsers and the HTTP parsers; refuses frames while `accepting` is false.
class CRecordingChannel final : public IMediaParserClient, public IMediaReceiver {
public:
    bool OnFrame(ipcapture::IVideoFrame* frame, std::uint32_t, std::uint32_t) override {
        const std::uint8_t* data = frame->GetData();
        frames.push_back({frame->GetFourCC(), frame->GetWidth(), frame->GetHeight(),
                          frame->GetCapacity(),
                          rtppack::Bytes(data, data + frame->GetDataSize())});
        return accepting;
    }
    std::pair<std::uint32_t, std::uint32_t> GetPictureSize() override { return {704, 576}; }

    std::vector<RecordedFrame> frames;
    bool accepting = true;
};

}  // namespace kestrel::testing_support

#endif
