// The simulator's video: the repository's test clips, cut into frames and RTP payloads once and
// shared by every stream that plays them. A clip is looked up by the camera's codec code and the
// picture size its settings name; the nearest size is taken when no clip has that size.
//
// Thread-safe: clips are made under one mutex and are immutable afterwards; the library keeps
// every clip it made until it is destroyed, so a clip pointer stays valid while the library lives.
#ifndef QUILLON_TOOLS_CAMSIM_MEDIA_LIBRARY_H
#define QUILLON_TOOLS_CAMSIM_MEDIA_LIBRARY_H

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rtppack/rtppack.h"

namespace camsim {

struct ClipFrame {
    std::vector<rtppack::Packet> packets;  // payloads and marker bits; timestamps are the stream's
    bool key = false;
};

struct MediaClip {
    std::string codecType;  // the camera's videoCodecType
    unsigned width = 0;
    unsigned height = 0;
    std::uint8_t payloadType = 96;
    std::string sdpMedia;  // the a= lines that describe the payload, each ended by CR LF
    std::vector<ClipFrame> frames;
    std::vector<rtppack::Bytes> pictures;  // whole JPEG pictures, for the MJPEG stream
};

class MediaLibrary {
public:
    // `mtu` bounds whole RTP datagrams.
    MediaLibrary(std::string directory, unsigned mtu, bool jpegTablesInBand);

    // Null when the folder holds no usable clip of that codec.
    const MediaClip* Find(const std::string& codecType, unsigned width, unsigned height);

private:
    struct ClipFile {
        std::string path;
        std::string codecType;
        unsigned width = 0, height = 0;
        bool restart = false;  // JPEG with restart markers: taken only when nothing else fits
    };
    std::unique_ptr<MediaClip> Load(const ClipFile& file);

    std::string m_directory;
    unsigned m_mtu;  // largest payload
    bool m_jpegTablesInBand;
    std::vector<ClipFile> m_files;
    std::mutex m_lock;
    std::map<std::string, std::unique_ptr<MediaClip>> m_clips;  // by path
};

// The RFC 2435 Q of a picture whose tables are the standard ones scaled for Q 1-99, else 255.
int JpegQualityOf(const rtppack::JpegPicture& picture);

}  // namespace camsim

#endif
