// The web API document readers on arbitrary camera answers: no crash, no hang, no leak, and
// every reader's result consistent with the records it filled.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "webapi/cisco_client.h"
#include "webapi/xml_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    kestrel::CCiscoClient client;

    kestrel::DEVICE_BASIC_INFO info;
    client.ReadDeviceBasicInfo(text, info);

    kestrel::STREAMING_SETTING setting;
    if (client.ReadStreamingSetting(text, setting) == setting.channels.empty()) std::abort();
    // Whatever was read must write back to a document that reads again to the same channel count.
    if (!setting.channels.empty()) {
        kestrel::STREAMING_SETTING again;
        if (!client.ReadStreamingSetting(kestrel::BuildStreamingSettingDocument(setting), again) ||
            again.channels.size() != setting.channels.size() || again.version != setting.version)
            std::abort();
    }

    kestrel::IO_PORT_SETTING ports;
    client.ReadIOPortSetting(text, ports);

    kestrel::IO_PORT_STATUS status;
    client.ReadIOPortStatus(text, status);
    for (std::uint32_t code : status.inputStates)
        if (code > 2) std::abort();
    for (std::uint32_t code : status.outputStates)
        if (code > 2) std::abort();

    client.CheckResponseStatus(text);

    // One row for every entry the list path selects, one text per field.
    kestrel::CXmlParser parser;
    if (parser.LoadXml(text)) {
        const std::string list = "DeviceInfo/IOPortSetting/InputPortList/InputPortEntry";
        const std::vector<std::vector<std::string>> rows = parser.GetNodeTextTable(list, {"ioPortID", "a/b"});
        if (rows.size() != static_cast<std::size_t>(parser.CountNodes(list))) std::abort();
        for (const std::vector<std::string>& row : rows)
            if (row.size() != 2) std::abort();
    }
    return 0;
}
