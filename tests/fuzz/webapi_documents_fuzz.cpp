// The web API document readers on arbitrary camera answers: no crash, no hang, no leak, and
// every reader's result consistent with the records it filled.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "webapi/cisco_client.h"

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
    return 0;
}
