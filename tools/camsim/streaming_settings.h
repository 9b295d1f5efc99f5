// The camera's streaming settings: the "StreamingSetting.xml" document it answers, and the state
// that a written document changes. The document is kept as a tree, so a write changes exactly the
// elements it names and the camera's other elements stay. Thread-safe (one mutex).
#ifndef QUILLON_TOOLS_CAMSIM_STREAMING_SETTINGS_H
#define QUILLON_TOOLS_CAMSIM_STREAMING_SETTINGS_H

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "camsim/camera_config.h"

namespace camsim {

// One stream as the streamer needs it, read from the document.
struct StreamProfile {
    unsigned number = 0;  // 1-based position in the list
    std::string channelID;
    std::string channelName;
    bool enabled = false;
    std::string videoStandardType;
    std::string videoCodecType;
    unsigned width = 0;
    unsigned height = 0;
    unsigned frameRate = 0;
    unsigned quality = 0;
    unsigned rtspPort = 0;
};

class StreamingSettings {
public:
    StreamingSettings(const std::vector<StreamConfig>& streams, std::uint16_t rtspPort);

    std::string Document();
    // Takes the values of a written document. False, with nothing changed, when it is not
    // well-formed or lists no stream entry.
    bool Apply(const std::string& text);
    std::vector<StreamProfile> Streams();
    // The stream whose channelID is `id`; its channelName must be `name`.
    std::optional<StreamProfile> Find(const std::string& id, const std::string& name);

private:
    std::mutex m_lock;
    pugi::xml_document m_document;
};

}  // namespace camsim

#endif
