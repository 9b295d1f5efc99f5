// The web API's list readers on answers with many entries: time per answer, which grows in
// proportion to the entries when each list is read in one pass.
#include <benchmark/benchmark.h>

#include <string>

#include "webapi/cisco_client.h"

namespace {

std::string StreamingAnswer(int entries) {
    std::string text = "<DeviceInfo><version>1.0</version><StreamingSetting><StreamingChannelList>";
    for (int i = 0; i < entries; ++i)
        text += "<StreamingChannelEntry><channelID>" + std::to_string(i) +
                "</channelID><channelName>main</channelName><enabled>1</enabled><TransportSetting><rtspPortNo>554"
                "</rtspPortNo></TransportSetting><VideoSetting><videoCodecType>H.264</videoCodecType>"
                "<maxFrameRate>25</maxFrameRate></VideoSetting></StreamingChannelEntry>";
    return text + "</StreamingChannelList></StreamingSetting></DeviceInfo>";
}

std::string PortAnswer(int entries) {
    std::string text = "<DeviceInfo><IOPortSetting><InputPortList>";
    for (int i = 0; i < entries; ++i)
        text += "<InputPortEntry><ioPortID>" + std::to_string(i) + "</ioPortID><triggeringType>high</triggeringType>"
                "</InputPortEntry>";
    return text + "</InputPortList></IOPortSetting></DeviceInfo>";
}

void ReadStreamingSetting(benchmark::State& state) {
    const std::string answer = StreamingAnswer(static_cast<int>(state.range(0)));
    kestrel::CCiscoClient client;
    for (auto _ : state) {
        kestrel::STREAMING_SETTING setting;
        benchmark::DoNotOptimize(client.ReadStreamingSetting(answer, setting));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void ReadIOPortSetting(benchmark::State& state) {
    const std::string answer = PortAnswer(static_cast<int>(state.range(0)));
    kestrel::CCiscoClient client;
    for (auto _ : state) {
        kestrel::IO_PORT_SETTING setting;
        benchmark::DoNotOptimize(client.ReadIOPortSetting(answer, setting));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(ReadStreamingSetting)->Arg(10)->Arg(64)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadIOPortSetting)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
