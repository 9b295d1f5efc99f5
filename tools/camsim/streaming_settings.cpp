#include "camsim/streaming_settings.h"

#include <cstdlib>
#include <sstream>

namespace camsim {
namespace {

constexpr const char* kEntryList = "/DeviceInfo/StreamingSetting/StreamingChannelList";

void Text(pugi::xml_node parent, const char* name, const std::string& value) {
    parent.append_child(name).text().set(value.c_str());
}

void AppendEntry(pugi::xml_node list, unsigned number, const StreamConfig& stream, std::uint16_t rtspPort) {
    pugi::xml_node entry = list.append_child("StreamingChannelEntry");
    Text(entry, "channelID", std::to_string(number));
    Text(entry, "channelName", stream.channelName);
    Text(entry, "enabled", stream.enabled ? "1" : "0");
    Text(entry, "streamingTransportType", "1");
    pugi::xml_node transport = entry.append_child("TransportSetting");
    Text(transport, "rtspPortNo", std::to_string(rtspPort));
    Text(transport, "maxPacketSize", "1400");
    Text(transport.append_child("SecuritySetting"), "enabled", "0");
    pugi::xml_node video = entry.append_child("VideoSetting");
    Text(video, "enabled", stream.enabled ? "1" : "0");
    Text(video, "videoStandardType", stream.videoStandardType);
    Text(video, "videoCodecType", stream.videoCodecType);
    Text(video, "videoScanType", "1");
    Text(video, "videoResolutionWidth", std::to_string(stream.width));
    Text(video, "videoResolutionHeight", std::to_string(stream.height));
    Text(video, "videoQualityControlType", "2");
    Text(video, "constantBitRate", "4000");
    Text(video, "fixedQuality", std::to_string(stream.quality));
    Text(video, "maxFrameRate", std::to_string(stream.frameRate));
    Text(video, "keyFrameInterval", "1000");
    Text(video, "vbrLowerCap", "1000");
    Text(video, "vbrUpperCap", "6000");
    Text(entry.append_child("AudioSetting"), "enabled", "0");
}

unsigned Number(pugi::xml_node node, const char* path) {
    return static_cast<unsigned>(std::strtoul(node.first_element_by_path(path).text().get(), nullptr, 10));
}

StreamProfile Profile(pugi::xml_node entry, unsigned number) {
    StreamProfile profile;
    profile.number = number;
    profile.channelID = entry.child("channelID").text().get();
    profile.channelName = entry.child("channelName").text().get();
    profile.enabled = std::string(entry.child("enabled").text().get()) == "1";
    pugi::xml_node video = entry.child("VideoSetting");
    profile.videoStandardType = video.child("videoStandardType").text().get();
    profile.videoCodecType = video.child("videoCodecType").text().get();
    profile.width = Number(video, "videoResolutionWidth");
    profile.height = Number(video, "videoResolutionHeight");
    profile.frameRate = Number(video, "maxFrameRate");
    profile.quality = Number(video, "fixedQuality");
    profile.rtspPort = Number(entry, "TransportSetting/rtspPortNo");
    return profile;
}

// Copies every leaf value of `from` onto the element at the same place under `to`, where the
// camera has one; elements the camera does not know are ignored, as a camera ignores them.
void CopyLeaves(pugi::xml_node from, pugi::xml_node to) {
    for (pugi::xml_node child = from.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        pugi::xml_node target = to.child(child.name());
        if (!target) continue;
        if (child.first_child() && child.first_child().type() == pugi::node_element)
            CopyLeaves(child, target);
        else
            target.text().set(child.text().get());
    }
}

pugi::xml_node MatchingEntry(pugi::xml_node list, pugi::xml_node posted, unsigned position) {
    const std::string id = posted.child("channelID").text().get();
    unsigned index = 0;
    pugi::xml_node byPosition;
    for (pugi::xml_node entry : list.children("StreamingChannelEntry")) {
        if (!id.empty() && id == entry.child("channelID").text().get()) return entry;
        if (index++ == position) byPosition = entry;
    }
    return id.empty() ? byPosition : pugi::xml_node();
}

}  // namespace

StreamingSettings::StreamingSettings(const std::vector<StreamConfig>& streams, std::uint16_t rtspPort) {
    pugi::xml_node info = m_document.append_child("DeviceInfo");
    Text(info, "version", "1.0");
    pugi::xml_node list = info.append_child("StreamingSetting").append_child("StreamingChannelList");
    unsigned number = 1;
    for (const StreamConfig& stream : streams) AppendEntry(list, number++, stream, rtspPort);
}

std::string StreamingSettings::Document() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n";
    m_document.document_element().print(out, "  ", pugi::format_indent);
    return out.str();
}

bool StreamingSettings::Apply(const std::string& text) {
    pugi::xml_document posted;
    if (!posted.load_buffer(text.data(), text.size())) return false;
    pugi::xml_node postedList = posted.first_element_by_path(kEntryList);
    if (!postedList.child("StreamingChannelEntry")) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    pugi::xml_node list = m_document.first_element_by_path(kEntryList);
    unsigned position = 0;
    for (pugi::xml_node entry : postedList.children("StreamingChannelEntry")) {
        pugi::xml_node target = MatchingEntry(list, entry, position++);
        if (target) CopyLeaves(entry, target);
    }
    return true;
}

std::vector<StreamProfile> StreamingSettings::Streams() {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<StreamProfile> streams;
    unsigned number = 1;
    for (pugi::xml_node entry : m_document.first_element_by_path(kEntryList).children("StreamingChannelEntry"))
        streams.push_back(Profile(entry, number++));
    return streams;
}

std::optional<StreamProfile> StreamingSettings::Find(const std::string& id, const std::string& name) {
    for (const StreamProfile& stream : Streams())
        if (stream.channelID == id && stream.channelName == name) return stream;
    return std::nullopt;
}

}  // namespace camsim
