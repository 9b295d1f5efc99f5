#include "camsim/media_library.h"

#include <dirent.h>

#include <cstdlib>

#include "camsim/camera_config.h"
#include "camsim/text.h"
#include "rtsp/base64.h"

namespace camsim {
namespace {

constexpr unsigned kRtpHeaderSize = 12;
constexpr std::uint8_t kPayloadTypeJpeg = 26;  // static payload type (RFC 3551)
constexpr std::uint8_t kPayloadTypeDynamic = 96;
constexpr std::uint8_t kNalTypeSps = 7;
constexpr std::uint8_t kNalTypePps = 8;
constexpr std::uint8_t kMpeg4VopStart = 0xB6;
constexpr std::uint8_t kMpeg4GovStart = 0xB3;

// "h264_704x576.264", "mpeg4_352x288.m4v", "jpeg_704x576_q50.mjpeg": codec, size, and for JPEG
// whether the pictures carry restart markers.
bool ParseClipName(const std::string& name, std::string& codecType, unsigned& width, unsigned& height,
                   bool& restart) {
    std::vector<std::string> parts = Split(name.substr(0, name.find('.')), '_');
    if (parts.size() < 2) return false;
    if (parts[0] == "h264" && name.size() > 4 && name.compare(name.size() - 4, 4, ".264") == 0)
        codecType = kCodecH264;
    else if (parts[0] == "mpeg4")
        codecType = kCodecMpeg4;
    else if (parts[0] == "jpeg")
        codecType = kCodecJpeg;
    else
        return false;
    std::vector<std::string> size = Split(parts[1], 'x');
    restart = name.find("restart") != std::string::npos;
    return size.size() == 2 && ParseNumber(size[0], width) && ParseNumber(size[1], height);
}

std::string Hex(const rtppack::Bytes& bytes) {
    std::string text;
    for (std::uint8_t byte : bytes) text += HexText(byte, 2);
    return text;
}

std::string Base64(const rtppack::Bytes& bytes) {
    return kestrel::Base64Encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// The control line comes first in each media description: a client that takes any "m=" in a
// line for a new description then cannot lose it to the data of the fmtp line.
std::string H264Description(const std::vector<rtppack::AccessUnit>& units) {
    rtppack::Bytes sps, pps;
    for (const rtppack::AccessUnit& unit : units)
        for (const rtppack::Bytes& nal : unit.nalUnits) {
            if (nal.empty()) continue;
            std::uint8_t type = nal[0] & 0x1F;
            if (type == kNalTypeSps && sps.empty()) sps = nal;
            if (type == kNalTypePps && pps.empty()) pps = nal;
        }
    std::string fmtp = "a=fmtp:96 packetization-mode=1";
    if (sps.size() >= 4) fmtp += ";profile-level-id=" + Hex(rtppack::Bytes(sps.begin() + 1, sps.begin() + 4));
    if (!sps.empty() && !pps.empty()) fmtp += ";sprop-parameter-sets=" + Base64(sps) + "," + Base64(pps);
    return "a=rtpmap:96 H264/90000\r\n" + fmtp + "\r\n";
}

// The configuration of an MPEG-4 stream is everything before its first GOV or VOP.
std::string Mpeg4Description(const std::vector<rtppack::Bytes>& frames) {
    rtppack::Bytes config;
    if (!frames.empty()) {
        const rtppack::Bytes& first = frames[0];
        for (std::size_t i = 0; i + 3 < first.size(); ++i)
            if (first[i] == 0 && first[i + 1] == 0 && first[i + 2] == 1 &&
                (first[i + 3] == kMpeg4VopStart || first[i + 3] == kMpeg4GovStart)) {
                config.assign(first.begin(), first.begin() + static_cast<long>(i));
                break;
            }
    }
    return "a=rtpmap:96 MP4V-ES/90000\r\na=fmtp:96 profile-level-id=1;config=" + Hex(config) + "\r\n";
}

bool IsMpeg4KeyFrame(const rtppack::Bytes& frame) {
    for (std::size_t i = 0; i + 4 < frame.size(); ++i)
        if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && frame[i + 3] == kMpeg4VopStart)
            return (frame[i + 4] >> 6) == 0;  // vop_coding_type 0: intra
    return false;
}

}  // namespace

int JpegQualityOf(const rtppack::JpegPicture& picture) {
    if (picture.lumaWide || picture.chromaWide) return 255;
    rtppack::Bytes tables = picture.lumaTable;
    tables.insert(tables.end(), picture.chromaTable.begin(), picture.chromaTable.end());
    for (int q = 1; q <= 99; ++q)
        if (rtppack::JpegTablesForQ(q) == tables) return q;
    return 255;
}

MediaLibrary::MediaLibrary(std::string directory, unsigned mtu, bool jpegTablesInBand)
    : m_directory(std::move(directory)),
      m_mtu(mtu > kRtpHeaderSize + 64 ? mtu - kRtpHeaderSize : 64),
      m_jpegTablesInBand(jpegTablesInBand) {
    DIR* folder = opendir(m_directory.c_str());
    if (folder == nullptr) return;
    while (dirent* entry = readdir(folder)) {
        ClipFile file;
        file.path = m_directory + "/" + entry->d_name;
        if (ParseClipName(entry->d_name, file.codecType, file.width, file.height, file.restart))
            m_files.push_back(file);
    }
    closedir(folder);
}

const MediaClip* MediaLibrary::Find(const std::string& codecType, unsigned width, unsigned height) {
    const ClipFile* best = nullptr;
    long bestDistance = 0;
    for (const ClipFile& file : m_files) {
        if (file.codecType != codecType) continue;
        long distance = std::labs(static_cast<long>(file.width) - static_cast<long>(width)) +
                        std::labs(static_cast<long>(file.height) - static_cast<long>(height)) +
                        (file.restart ? 100000 : 0);
        if (best == nullptr || distance < bestDistance || (distance == bestDistance && file.path < best->path)) {
            best = &file;
            bestDistance = distance;
        }
    }
    if (best == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_clips.find(best->path);
    if (found == m_clips.end()) found = m_clips.emplace(best->path, Load(*best)).first;
    return found->second.get();
}

std::unique_ptr<MediaClip> MediaLibrary::Load(const ClipFile& file) {
    rtppack::Bytes stream = rtppack::ReadFile(file.path);
    auto clip = std::make_unique<MediaClip>();
    clip->codecType = file.codecType;
    clip->width = file.width;
    clip->height = file.height;
    if (file.codecType == kCodecH264) {
        std::vector<rtppack::AccessUnit> units = rtppack::SplitH264AccessUnits(stream);
        rtppack::H264Options options;
        options.mtu = m_mtu;
        for (const rtppack::AccessUnit& unit : units)
            clip->frames.push_back({rtppack::PacketiseH264(unit, 0, options), unit.IsKey()});
        clip->sdpMedia = H264Description(units);
    } else if (file.codecType == kCodecMpeg4) {
        std::vector<rtppack::Bytes> frames = rtppack::SplitMpeg4Frames(stream);
        for (const rtppack::Bytes& frame : frames)
            clip->frames.push_back({rtppack::PacketiseMpeg4(frame, 0, m_mtu), IsMpeg4KeyFrame(frame)});
        clip->sdpMedia = Mpeg4Description(frames);
    } else {
        clip->payloadType = kPayloadTypeJpeg;
        clip->sdpMedia = "a=rtpmap:26 JPEG/90000\r\n";
        for (rtppack::Bytes& picture : rtppack::SplitJpegPictures(stream)) {
            rtppack::JpegPicture parsed;
            rtppack::JpegOptions options;
            options.mtu = m_mtu;
            options.q = m_jpegTablesInBand || !rtppack::ParseJpegPicture(picture, parsed) ? 255 : JpegQualityOf(parsed);
            ClipFrame frame;
            frame.key = true;
            if (!rtppack::PacketiseJpeg(picture, 0, options, frame.packets)) continue;
            clip->frames.push_back(std::move(frame));
            clip->pictures.push_back(std::move(picture));
        }
    }
    clip->payloadType = file.codecType == kCodecJpeg ? kPayloadTypeJpeg : kPayloadTypeDynamic;
    return clip;
}

}  // namespace camsim
