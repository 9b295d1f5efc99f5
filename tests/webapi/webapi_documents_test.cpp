// The document readers and writers and the XML wrapper. The same table runs against the XML back
// end of each platform (pugixml natively, MSXML under Windows), so both give the same records.
#include <gtest/gtest.h>

#include "webapi/cisco_client.h"
#include "webapi/text_encoding.h"
#include "webapi/webapi_documents.h"
#include "webapi/xml_parser.h"

namespace kestrel {
namespace {

const char kStreamingAnswer[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<DeviceInfo>\n"
    "  <version>1.2</version>\n"
    "  <StreamingSetting><StreamingChannelList>\n"
    "    <StreamingChannelEntry>\n"
    "      <channelID>1</channelID><channelName>main</channelName><enabled>1</enabled>\n"
    "      <streamingTransportType>RTSP</streamingTransportType>\n"
    "      <TransportSetting><rtspPortNo>554</rtspPortNo><maxPacketSize>1400</maxPacketSize>\n"
    "        <SecuritySetting><enabled>0</enabled></SecuritySetting></TransportSetting>\n"
    "      <VideoSetting><enabled>1</enabled><videoStandardType>PAL</videoStandardType>\n"
    "        <videoCodecType>H.264</videoCodecType><videoScanType>progressive</videoScanType>\n"
    "        <videoResolutionWidth>1280</videoResolutionWidth><videoResolutionHeight>720</videoResolutionHeight>\n"
    "        <videoQualityControlType>VBR</videoQualityControlType><constantBitRate>4096</constantBitRate>\n"
    "        <fixedQuality>3</fixedQuality><maxFrameRate>25</maxFrameRate><keyFrameInterval>50</keyFrameInterval>\n"
    "        <vbrLowerCap>512</vbrLowerCap><vbrUpperCap>8192</vbrUpperCap></VideoSetting>\n"
    "    </StreamingChannelEntry>\n"
    "    <StreamingChannelEntry>\n"
    "      <channelID>2</channelID><channelName></channelName><enabled>0</enabled>\n"
    "      <streamingTransportType>HTTP</streamingTransportType>\n"
    "    </StreamingChannelEntry>\n"
    "  </StreamingChannelList></StreamingSetting>\n"
    "</DeviceInfo>\n";

// Each row: a document, a path and what the wrapper answers.
TEST(CXmlParserTest, PathQueries) {
    struct Case {
        const char* name;
        const char* document;
        const char* path;
        int count;
        const char* text;
        std::vector<std::string> list;
    };
    const char* list = "<r><e>a</e><e></e><e>c</e><e><x/></e><e> </e></r>";
    const Case cases[] = {
        {"plain child chain", "<a><b><c>v</c></b></a>", "a/b/c", 1, "v", {"v"}},
        {"index counts from 0", "<a><b>0</b><b>1</b><b>2</b></a>", "a/b[1]", 1, "1", {"1"}},
        {"index past the end", "<a><b>0</b></a>", "a/b[1]", 0, "", {}},
        {"index inside the path", "<a><b><c>x</c></b><b><c>y</c></b></a>", "a/b[1]/c", 1, "y", {"y"}},
        {"empty and element-only entries left out", list, "r/e", 5, "a", {"a", "c", " "}},
        {"whitespace preserved", "<a><b>  2 </b></a>", "a/b", 1, "  2 ", {"  2 "}},
        {"entity references resolved", "<a><b>x &amp; &lt;y&gt;</b></a>", "a/b", 1, "x & <y>", {"x & <y>"}},
        {"CDATA is text", "<a><b><![CDATA[<raw>]]></b></a>", "a/b", 1, "<raw>", {"<raw>"}},
        {"first step is the document element", "<a><b>v</b></a>", "b", 0, "", {}},
        {"missing element", "<a><b>v</b></a>", "a/c", 0, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CXmlParser parser;
        ASSERT_TRUE(parser.LoadXml(c.document));
        EXPECT_EQ(parser.CountNodes(c.path), c.count);
        EXPECT_EQ(parser.GetNodeText(c.path), c.text);
        EXPECT_EQ(parser.GetNodeTextList(c.path), c.list);
    }
}

TEST(CXmlParserTest, TableHasOneRowPerEntryWithEachFieldAsGetNodeTextReadsIt) {
    CXmlParser parser;
    ASSERT_TRUE(parser.LoadXml("<r>"
                               "<e><a><x/></a><a><b>1</b></a><c>c1</c></e>"  // b only under the second a
                               "<e/>"                                         // nothing: empty texts
                               "<e><a><b>3</b><b>4</b></a><c></c></e>"       // the first b; an empty c
                               "</r>"));
    EXPECT_EQ(parser.GetNodeTextTable("r/e", {"a/b", "c"}),
              (std::vector<std::vector<std::string>>{{"1", "c1"}, {"", ""}, {"3", ""}}));
    EXPECT_EQ(parser.GetNodeTextTable("r/missing", {"a/b"}), (std::vector<std::vector<std::string>>{}));
}

TEST(CXmlParserTest, RefusesWhatIsNotOneWellFormedDocumentWithoutDtd) {
    const char* refused[] = {
        "",
        "plain text",
        "<a><b></a>",
        "<a/><b/>",  // two document elements
        "<a>x</a>trailing",
        "<!DOCTYPE a [<!ENTITY e \"boom\">]><a>&e;</a>",
        "<?xml version=\"1.0\"?><!DOCTYPE a SYSTEM \"file:///etc/passwd\"><a/>",
        "<a>&undefined;</a>",
    };
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        CXmlParser parser;
        EXPECT_FALSE(parser.LoadXml(text));
        EXPECT_EQ(parser.CountNodes("a"), 0);
        EXPECT_EQ(parser.GetNodeText("a"), "");
    }
}

// MSXML reads a text only up to its first NUL and pugixml refuses any NUL; both must agree.
TEST(CXmlParserTest, TrailingNulBytesAreDroppedAndAnyOtherNulRefused) {
    struct Case {
        const char* name;
        std::string text;
        bool loads;
    };
    const Case cases[] = {
        {"one trailing NUL", std::string("<a><b>v</b></a>\0", 16), true},
        {"several trailing NULs", std::string("<a><b>v</b></a>\0\0\0", 18), true},
        {"NUL inside text", std::string("<a><b>v\0w</b></a>", 17), false},
        {"second element after a NUL", std::string("<a><b>v</b></a>\0<c/>", 20), false},
        {"only NULs", std::string("\0\0", 2), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CXmlParser parser;
        EXPECT_EQ(parser.LoadXml(c.text), c.loads);
        EXPECT_EQ(parser.GetNodeText("a/b"), c.loads ? "v" : "");
    }
    CCiscoClient client;
    EXPECT_TRUE(client.CheckResponseStatus(std::string("<ResponseStatus><statusCode>1</statusCode></ResponseStatus>\0", 60)));
}

TEST(CXmlParserTest, SecondLoadKeepsTheFirstDocumentAndCloseEndsIt) {
    CXmlParser parser;
    ASSERT_TRUE(parser.LoadXml("<a><b>first</b></a>"));
    EXPECT_FALSE(parser.LoadXml("<a><b>second</b></a>"));
    EXPECT_EQ(parser.GetNodeText("a/b"), "first");
    parser.Close();
    EXPECT_EQ(parser.CountNodes("a/b"), 0);
    EXPECT_TRUE(parser.LoadXml("<a><b>second</b></a>"));
    EXPECT_EQ(parser.GetNodeText("a/b"), "second");
}

TEST(DocumentReaderTest, DeviceBasicInfo) {
    CCiscoClient client;
    DEVICE_BASIC_INFO info;
    ASSERT_TRUE(client.ReadDeviceBasicInfo(
        "<DeviceInfo><DeviceBasicInfo><deviceName>Lobby</deviceName><model>CIVS-IPC-2500</model>"
        "<udi></udi><macAddress>00:1B:D5:01:02:03</macAddress></DeviceBasicInfo></DeviceInfo>",
        info));
    EXPECT_EQ(info.deviceName, "Lobby");
    EXPECT_EQ(info.model, "CIVS-IPC-2500");
    EXPECT_EQ(info.udi, "");
    EXPECT_EQ(info.macAddress, "00:1B:D5:01:02:03");
    EXPECT_EQ(info.firmwareVersion, "");

    DEVICE_BASIC_INFO empty;
    EXPECT_TRUE(client.ReadDeviceBasicInfo("<DeviceInfo><version>1</version></DeviceInfo>", empty));
    EXPECT_EQ(empty.model, "");
    EXPECT_FALSE(client.ReadDeviceBasicInfo("", empty));
    EXPECT_FALSE(client.ReadDeviceBasicInfo("<DeviceInfo>", empty));
}

TEST(DocumentReaderTest, StreamingSettingEntriesInOrderWithMissingBlocksEmpty) {
    CCiscoClient client;
    STREAMING_SETTING setting;
    ASSERT_TRUE(client.ReadStreamingSetting(kStreamingAnswer, setting));
    EXPECT_EQ(setting.version, "1.2");
    ASSERT_EQ(setting.channels.size(), 2u);
    const STREAMING_CHANNEL& first = setting.channels[0];
    EXPECT_EQ(first.channelID, "1");
    EXPECT_EQ(first.streamingTransportType, "RTSP");
    EXPECT_EQ(first.transport.rtspPortNo, "554");
    EXPECT_EQ(first.transport.securityEnabled, "0");
    EXPECT_EQ(first.video.enabled, "1");
    EXPECT_EQ(first.video.videoCodecType, "H.264");
    EXPECT_EQ(first.video.videoResolutionHeight, "720");
    EXPECT_EQ(first.video.vbrLowerCap, "512");
    EXPECT_EQ(first.video.vbrUpperCap, "8192");
    const STREAMING_CHANNEL& second = setting.channels[1];
    EXPECT_EQ(second.channelID, "2");
    EXPECT_EQ(second.channelName, "");
    EXPECT_EQ(second.enabled, "0");
    EXPECT_EQ(second.transport.rtspPortNo, "");
    EXPECT_EQ(second.video.enabled, "");
    EXPECT_EQ(second.video.maxFrameRate, "");

    STREAMING_SETTING none;
    EXPECT_FALSE(client.ReadStreamingSetting(
        "<DeviceInfo><version>1.3</version><StreamingSetting><StreamingChannelList/></StreamingSetting></DeviceInfo>",
        none));
    EXPECT_EQ(none.version, "1.3");  // read before the entries were found missing
}

TEST(DocumentReaderTest, IOPortSettingCountsBothLists) {
    CCiscoClient client;
    IO_PORT_SETTING setting;
    ASSERT_TRUE(client.ReadIOPortSetting(
        "<DeviceInfo><IOPortSetting>"
        "<InputPortList><InputPortEntry><ioPortID>1</ioPortID><triggeringType>high</triggeringType></InputPortEntry>"
        "<InputPortEntry><ioPortID>2</ioPortID></InputPortEntry></InputPortList>"
        "<OutputPortList><OutputPortEntry><ioPortID>1</ioPortID><PowerOnState><defaultStateType>low</defaultStateType>"
        "<outputStateType>pulse</outputStateType><pulseDuration>500</pulseDuration></PowerOnState>"
        "<ManualControl><actionMappingType>toggle</actionMappingType></ManualControl></OutputPortEntry></OutputPortList>"
        "</IOPortSetting></DeviceInfo>",
        setting));
    ASSERT_EQ(setting.inputs.size(), 2u);
    EXPECT_EQ(setting.inputs[0].triggeringType, "high");
    EXPECT_EQ(setting.inputs[1].ioPortID, "2");
    EXPECT_EQ(setting.inputs[1].triggeringType, "");
    ASSERT_EQ(setting.outputs.size(), 1u);
    EXPECT_EQ(setting.outputs[0].defaultStateType, "low");
    EXPECT_EQ(setting.outputs[0].outputStateType, "pulse");
    EXPECT_EQ(setting.outputs[0].pulseDuration, "500");
    EXPECT_EQ(setting.outputs[0].actionMappingType, "toggle");

    IO_PORT_SETTING empty;
    EXPECT_TRUE(client.ReadIOPortSetting("<DeviceInfo/>", empty));
    EXPECT_TRUE(empty.inputs.empty());
    EXPECT_TRUE(empty.outputs.empty());
}

// A reader visits the entries of every list, in document order, each entry once.
TEST(DocumentReaderTest, EntriesOfEveryListInDocumentOrder) {
    CCiscoClient client;
    STREAMING_SETTING setting;
    ASSERT_TRUE(client.ReadStreamingSetting(
        "<DeviceInfo><StreamingSetting>"
        "<StreamingChannelList><StreamingChannelEntry><channelID>1</channelID></StreamingChannelEntry>"
        "<StreamingChannelEntry><channelID>2</channelID></StreamingChannelEntry></StreamingChannelList>"
        "<StreamingChannelList><StreamingChannelEntry><channelID>3</channelID></StreamingChannelEntry>"
        "</StreamingChannelList></StreamingSetting></DeviceInfo>",
        setting));
    std::vector<std::string> ids;
    for (const STREAMING_CHANNEL& channel : setting.channels) ids.push_back(channel.channelID);
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "3"}));

    IO_PORT_SETTING ports;
    ASSERT_TRUE(client.ReadIOPortSetting(
        "<DeviceInfo><IOPortSetting>"
        "<InputPortList><InputPortEntry><ioPortID>1</ioPortID></InputPortEntry></InputPortList>"
        "<InputPortList><InputPortEntry><ioPortID>2</ioPortID></InputPortEntry></InputPortList>"
        "</IOPortSetting></DeviceInfo>",
        ports));
    ASSERT_EQ(ports.inputs.size(), 2u);
    EXPECT_EQ(ports.inputs[0].ioPortID, "1");
    EXPECT_EQ(ports.inputs[1].ioPortID, "2");
}

// Far more port entries than a camera has: read whole and in order (reading them once took
// seconds). Streams are read up to their cap, in order too.
TEST(DocumentReaderTest, TenThousandEntries) {
    constexpr int kEntries = 10000;
    constexpr int kStreams = int(CCiscoClient::kMaxStreamingChannels);
    std::string streaming = "<DeviceInfo><StreamingSetting><StreamingChannelList>";
    std::string ports = "<DeviceInfo><IOPortSetting><OutputPortList>";
    for (int i = 0; i < kEntries; ++i) {
        const std::string id = std::to_string(i);
        if (i < kStreams) {
            streaming += "<StreamingChannelEntry><channelID>" + id + "</channelID><VideoSetting><vbrUpperCap>" + id +
                         "</vbrUpperCap></VideoSetting></StreamingChannelEntry>";
        }
        ports += "<OutputPortEntry><ioPortID>" + id + "</ioPortID><ManualControl><actionMappingType>" + id +
                 "</actionMappingType></ManualControl></OutputPortEntry>";
    }
    streaming += "</StreamingChannelList></StreamingSetting></DeviceInfo>";
    ports += "</OutputPortList></IOPortSetting></DeviceInfo>";

    CCiscoClient client;
    STREAMING_SETTING setting;
    ASSERT_TRUE(client.ReadStreamingSetting(streaming, setting));
    ASSERT_EQ(setting.channels.size(), static_cast<std::size_t>(kStreams));
    for (int i = 0; i < kStreams; i += 9) {
        EXPECT_EQ(setting.channels[i].channelID, std::to_string(i));
        EXPECT_EQ(setting.channels[i].video.vbrUpperCap, std::to_string(i));
    }
    IO_PORT_SETTING outputs;
    ASSERT_TRUE(client.ReadIOPortSetting(ports, outputs));
    ASSERT_EQ(outputs.outputs.size(), static_cast<std::size_t>(kEntries));
    for (int i = 0; i < kEntries; i += 999) EXPECT_EQ(outputs.outputs[i].actionMappingType, std::to_string(i));
}

TEST(DocumentReaderTest, IOPortStatusCodes) {
    CCiscoClient client;
    IO_PORT_STATUS status;
    ASSERT_TRUE(client.ReadIOPortStatus(
        "<DeviceInfo><IOPortStatus><InputPortList>"
        "<InputPortEntry><ioStateType>1</ioStateType></InputPortEntry>"
        "<InputPortEntry><ioStateType></ioStateType></InputPortEntry>"  // no state: no code
        "<InputPortEntry><ioStateType>7</ioStateType></InputPortEntry>"
        "</InputPortList><OutputPortList>"
        "<OutputPortEntry><ioStateType> 2</ioStateType></OutputPortEntry>"
        "<OutputPortEntry><ioStateType>+1x</ioStateType></OutputPortEntry>"
        "<OutputPortEntry><ioStateType>high</ioStateType></OutputPortEntry>"
        "<OutputPortEntry><ioStateType>4294967297</ioStateType></OutputPortEntry>"
        "</OutputPortList></IOPortStatus></DeviceInfo>",
        status));
    EXPECT_EQ(status.inputStates, (std::vector<std::uint32_t>{1, 0}));
    EXPECT_EQ(status.outputStates, (std::vector<std::uint32_t>{2, 1, 0, 0}));
}

TEST(DocumentReaderTest, ResponseStatusMustBeTheIntegerOne) {
    struct Case {
        const char* code;
        bool ok;
    };
    const Case cases[] = {
        {"1", true}, {"+1", true}, {"01", true}, {" 1", false}, {"1 ", false}, {"2", false},
        {"-1", false}, {"+", false}, {"1a", false}, {"", false}, {"4294967297", false},
    };
    CCiscoClient client;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(client.CheckResponseStatus(std::string("<ResponseStatus><statusCode>") + c.code +
                                             "</statusCode></ResponseStatus>"),
                  c.ok);
    }
    EXPECT_FALSE(client.CheckResponseStatus("<DeviceInfo><statusCode>1</statusCode></DeviceInfo>"));
    EXPECT_FALSE(client.CheckResponseStatus("not xml"));
}

STREAMING_SETTING OneChannel(const std::string& name) {
    STREAMING_SETTING setting;
    setting.version = "1.0";
    STREAMING_CHANNEL channel;
    channel.channelID = "1";
    channel.channelName = name;
    channel.enabled = "1";
    channel.streamingTransportType = "RTSP";
    channel.transport = {"554", "1400", "0"};
    channel.video.enabled = "1";
    channel.video.videoStandardType = "PAL";
    channel.video.videoCodecType = "JPEG";
    channel.video.videoScanType = "p";
    channel.video.videoResolutionWidth = "640";
    channel.video.videoResolutionHeight = "480";
    channel.video.videoQualityControlType = "CBR";
    channel.video.constantBitRate = "2048";
    channel.video.fixedQuality = "3";
    channel.video.maxFrameRate = "15";
    channel.video.keyFrameInterval = "30";
    channel.video.vbrLowerCap = "256";
    channel.video.vbrUpperCap = "4096";
    setting.channels.push_back(channel);
    return setting;
}

TEST(DocumentWriterTest, StreamingSettingDocumentByteExact) {
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><DeviceInfo><version>1.0</version><StreamingSetting>"
        "<StreamingChannelList><StreamingChannelEntry><channelID>1</channelID><channelName>Cam-1_a.b~</channelName>"
        "<enabled>1</enabled><streamingTransportType>RTSP</streamingTransportType><TransportSetting>"
        "<rtspPortNo>554</rtspPortNo><maxPacketSize>1400</maxPacketSize><SecuritySetting><enabled>0</enabled>"
        "</SecuritySetting></TransportSetting><VideoSetting><enabled>1</enabled><videoStandardType>PAL"
        "</videoStandardType><videoCodecType>JPEG</videoCodecType><videoScanType>p</videoScanType>"
        "<videoResolutionWidth>640</videoResolutionWidth><videoResolutionHeight>480</videoResolutionHeight>"
        "<videoQualityControlType>CBR</videoQualityControlType><constantBitRate>2048</constantBitRate>"
        "<fixedQuality>3</fixedQuality><vbrUpperCap>4096</vbrUpperCap><vbrLowerCap>256</vbrLowerCap>"
        "<maxFrameRate>15</maxFrameRate><keyFrameInterval>30</keyFrameInterval></VideoSetting><AudioSetting>"
        "<enabled>0</enabled></AudioSetting></StreamingChannelEntry></StreamingChannelList></StreamingSetting>"
        "</DeviceInfo>";
    EXPECT_EQ(BuildStreamingSettingDocument(OneChannel("Cam-1_a.b~")), expected);

    STREAMING_SETTING noChannels;
    noChannels.version = "2";
    EXPECT_EQ(BuildStreamingSettingDocument(noChannels),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><DeviceInfo><version>2</version><StreamingSetting>"
              "<StreamingChannelList></StreamingChannelList></StreamingSetting></DeviceInfo>");
}

TEST(DocumentWriterTest, EscapedValuesSurviveTheRoundTrip) {
    STREAMING_SETTING written = OneChannel("Gate <A&B> \"east\"");
    std::string document = BuildStreamingSettingDocument(written);
    EXPECT_NE(document.find("<channelName>Gate &lt;A&amp;B&gt; \"east\"</channelName>"), std::string::npos);
    // The writer's documents must parse back to the same values.
    std::string answer = document;
    CCiscoClient client;
    STREAMING_SETTING read;
    ASSERT_TRUE(client.ReadStreamingSetting(answer, read));
    ASSERT_EQ(read.channels.size(), 1u);
    EXPECT_EQ(read.channels[0].channelName, "Gate <A&B> \"east\"");
    EXPECT_EQ(read.channels[0].video.vbrUpperCap, "4096");
    EXPECT_EQ(read.channels[0].video.keyFrameInterval, "30");
}

TEST(DocumentWriterTest, IOPortDataDocument) {
    EXPECT_EQ(BuildIOPortDataDocument(0, 2),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<DeviceInfo>\r\n<version>0.0.1</version>\r\n"
              "<IOPortData>\r\n<ioPortID>1</ioPortID>\r\n<outputStateType>2</outputStateType>\r\n</IOPortData>\r\n"
              "</DeviceInfo>");
    EXPECT_EQ(BuildIOPortDataDocument(3, 0), "");
    EXPECT_NE(BuildIOPortDataDocument(0xFFFFFFFFu, 1).find("<ioPortID>4294967296</ioPortID>"), std::string::npos);
}

TEST(TextEncodingTest, PercentEncodeKeepsOnlyUnreservedBytes) {
    EXPECT_EQ(PercentEncode("Admin-1._~"), "Admin-1._~");
    EXPECT_EQ(PercentEncode("p&ss=w+r%d x"), "p%26ss%3Dw%2Br%25d%20x");
    EXPECT_EQ(PercentEncode("\xE9/"), "%E9%2F");
    EXPECT_EQ(XmlEscape("a<b>&c\"'"), "a&lt;b&gt;&amp;c\"'");
}

}  // namespace
}  // namespace kestrel
