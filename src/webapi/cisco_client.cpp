#include "webapi/cisco_client.h"

#include <algorithm>
#include <new>

#include "webapi/text_encoding.h"

namespace kestrel {
namespace {

constexpr const char* kFormContentType = "application/x-www-form-urlencoded";
constexpr const char* kApiVersion = "1.0";
constexpr const char* kSessionHeader = "sessionID";

API_COMMAND Command(const char* method, const char* document, const char* action, const char* contentType) {
    API_COMMAND command;
    command.method = method;
    command.document = document;
    command.action = action;
    command.version = kApiVersion;
    command.contentType = contentType;
    return command;
}

API_COMMAND LoginCommand() { return Command("POST", "System.xml", "login", kFormContentType); }
API_COMMAND LogoutCommand() { return Command("GET", "System.xml", "logout", kFormContentType); }
API_COMMAND DeviceBasicInfoCommand() { return Command("GET", "DeviceBasicInfo.xml", "get", kFormContentType); }
API_COMMAND GetStreamingCommand() { return Command("GET", "StreamingSetting.xml", "get", kFormContentType); }
API_COMMAND SetStreamingCommand() {
    return Command("POST", "StreamingSetting.xml", "set", "application/xml; charset=UTF-8");
}
API_COMMAND IOPortSettingCommand() { return Command("GET", "IOPortSetting.xml", "get", kFormContentType); }
API_COMMAND IOPortStatusCommand() { return Command("GET", "IOPortStatus.xml", "get", kFormContentType); }
API_COMMAND TriggerCommand() { return Command("POST", "IOPortData.xml", "triggerOutputPort", "application/xml"); }

void SetBody(Web::HTTP_REQUEST& request, const std::string& text) {
    request.body.assign(text.begin(), text.end());
    request.totalLength = static_cast<std::uint32_t>(request.body.size());
}

// An optional sign and at least one decimal digit, nothing else: " 1" and "1 " do not count.
bool IsOne(const std::string& text) {
    std::size_t digits = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
    if (digits == text.size() || text.find_first_not_of("0123456789", digits) != std::string::npos) return false;
    if (text[0] == '-') return false;  // no negative number equals 1
    std::size_t first = text.find_first_not_of('0', digits);
    return first != std::string::npos && text.compare(first, std::string::npos, "1") == 0;
}

// One field of an entry record: its path below the entry element and where it goes.
template <typename Record>
struct EntryField {
    const char* path;
    std::string& (*field)(Record&);
};

const EntryField<STREAMING_CHANNEL> kChannelFields[] = {
    {"channelID", [](STREAMING_CHANNEL& c) -> std::string& { return c.channelID; }},
    {"channelName", [](STREAMING_CHANNEL& c) -> std::string& { return c.channelName; }},
    {"enabled", [](STREAMING_CHANNEL& c) -> std::string& { return c.enabled; }},
    {"streamingTransportType", [](STREAMING_CHANNEL& c) -> std::string& { return c.streamingTransportType; }},
    {"TransportSetting/rtspPortNo", [](STREAMING_CHANNEL& c) -> std::string& { return c.transport.rtspPortNo; }},
    {"TransportSetting/maxPacketSize",
     [](STREAMING_CHANNEL& c) -> std::string& { return c.transport.maxPacketSize; }},
    {"TransportSetting/SecuritySetting/enabled",
     [](STREAMING_CHANNEL& c) -> std::string& { return c.transport.securityEnabled; }},
    {"VideoSetting/enabled", [](STREAMING_CHANNEL& c) -> std::string& { return c.video.enabled; }},
    {"VideoSetting/videoStandardType", [](STREAMING_CHANNEL& c) -> std::string& { return c.video.videoStandardType; }},
    {"VideoSetting/videoCodecType", [](STREAMING_CHANNEL& c) -> std::string& { return c.video.videoCodecType; }},
    {"VideoSetting/videoScanType", [](STREAMING_CHANNEL& c) -> std::string& { return c.video.videoScanType; }},
    {"VideoSetting/videoResolutionWidth",
     [](STREAMING_CHANNEL& c) -> std::string& { return c.video.videoResolutionWidth; }},
    {"VideoSetting/videoResolutionHeight",
     [](STREAMING_CHANNEL& c) -> std::string& { return c.video.videoResolutionHeight; }},
    {"VideoSetting/videoQualityControlType",
     [](STREAMING_CHANNEL& c) -> std::string& { return c.video.videoQualityControlType; }},
    {"VideoSetting/constantBitRate", [](STREAMING_CHANNEL& c) -> std::string& { return c.video.constantBitRate; }},
    {"VideoSetting/fixedQuality", [](STREAMING_CHANNEL& c) -> std::string& { return c.video.fixedQuality; }},
    {"VideoSetting/maxFrameRate", [](STREAMING_CHANNEL& c) -> std::string& { return c.video.maxFrameRate; }},
    {"VideoSetting/keyFrameInterval", [](STREAMING_CHANNEL& c) -> std::string& { return c.video.keyFrameInterval; }},
    {"VideoSetting/vbrLowerCap", [](STREAMING_CHANNEL& c) -> std::string& { return c.video.vbrLowerCap; }},
    {"VideoSetting/vbrUpperCap", [](STREAMING_CHANNEL& c) -> std::string& { return c.video.vbrUpperCap; }},
};

const EntryField<INPUT_PORT_ENTRY> kInputFields[] = {
    {"ioPortID", [](INPUT_PORT_ENTRY& e) -> std::string& { return e.ioPortID; }},
    {"triggeringType", [](INPUT_PORT_ENTRY& e) -> std::string& { return e.triggeringType; }},
};

const EntryField<OUTPUT_PORT_ENTRY> kOutputFields[] = {
    {"ioPortID", [](OUTPUT_PORT_ENTRY& e) -> std::string& { return e.ioPortID; }},
    {"PowerOnState/defaultStateType", [](OUTPUT_PORT_ENTRY& e) -> std::string& { return e.defaultStateType; }},
    {"PowerOnState/outputStateType", [](OUTPUT_PORT_ENTRY& e) -> std::string& { return e.outputStateType; }},
    {"PowerOnState/pulseDuration", [](OUTPUT_PORT_ENTRY& e) -> std::string& { return e.pulseDuration; }},
    {"ManualControl/actionMappingType", [](OUTPUT_PORT_ENTRY& e) -> std::string& { return e.actionMappingType; }},
};

// Appends one record per element that `listPath` selects, in document order.
template <typename Record, std::size_t N>
void ReadEntries(CXmlParser& doc, const std::string& listPath, const EntryField<Record> (&fields)[N],
                 std::vector<Record>& records) {
    std::vector<std::string> paths;
    for (const EntryField<Record>& field : fields) paths.emplace_back(field.path);
    std::vector<std::vector<std::string>> rows = doc.GetNodeTextTable(listPath, paths);
    records.reserve(records.size() + rows.size());
    for (std::vector<std::string>& row : rows) {
        Record record;
        for (std::size_t i = 0; i < N; ++i) fields[i].field(record) = std::move(row[i]);
        records.push_back(std::move(record));
    }
}

}  // namespace

CCiscoClient::CCiscoClient() = default;

CCiscoClient::~CCiscoClient() { Disconnect(); }

Web::HTTP_REQUEST CCiscoClient::BuildLoginRequest(const API_COMMAND& command) {
    Web::HTTP_REQUEST request(command.method, command.document);
    request.headers.push_back("Content-Type: " + command.contentType);
    SetBody(request, "version=" + PercentEncode(command.version) + "&action=" + PercentEncode(command.action) +
                         "&userName=" + PercentEncode(command.userName) +
                         "&password=" + PercentEncode(command.password));
    return request;
}

Web::HTTP_REQUEST CCiscoClient::BuildQueryRequest(const API_COMMAND& command) {
    Web::HTTP_REQUEST request(command.method, command.document + "?version=" + command.version + "&action=" +
                                                  command.action + "&sessionID=" + PercentEncode(command.sessionID));
    request.headers.push_back("Content-Type: " + command.contentType);
    return request;
}

Web::HTTP_REQUEST CCiscoClient::BuildStreamingSettingRequest(const API_COMMAND& command, const std::string& document) {
    Web::HTTP_REQUEST request(command.method, command.document + "?version=" + command.version +
                                                  "&sessionID=" + PercentEncode(command.sessionID));
    request.headers = {
        "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
        "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*",
        "Content-Type: " + command.contentType,
        "Accept-Language: en-us",
        "Accept-Encoding: gzip, deflate",
        "sessionID: " + command.sessionID,
        "version: " + command.version,
        "QueryString: action=set",
    };
    SetBody(request, document);
    return request;
}

Web::HTTP_REQUEST CCiscoClient::BuildTriggerRequest(const API_COMMAND& command, const std::string& document) {
    Web::HTTP_REQUEST request(command.method, command.document + "?version=" + command.version +
                                                  "&sessionID=" + PercentEncode(command.sessionID));
    request.headers = {
        "Content-Type: " + command.contentType,
        "Accept-Language: en-us",
        "Accept-Encoding: gzip, deflate",
        "sessionID: " + command.sessionID,
        "version: " + command.version,
        "QueryString: action=" + command.action,
    };
    SetBody(request, document);
    return request;
}

TSmartPtr<Web::CHttpSender> CCiscoClient::GetSender() {
    std::lock_guard<std::mutex> guard(m_senderLock);
    return m_sender;
}

std::string CCiscoClient::GetUnansweredDigestAlgorithm() {
    TSmartPtr<Web::CHttpSender> sender = GetSender();
    return sender ? sender->UnansweredDigestAlgorithm() : std::string();
}

bool CCiscoClient::Transact(const Web::HTTP_REQUEST& request, std::string& response, const std::string& headerName,
                            std::string* headerValue) {
    response.clear();
    TSmartPtr<Web::CHttpSender> sender = GetSender();
    m_lastHttpStatus.store(0);
    m_lastAnswerProblem.store(AnswerProblem::kNone);
    if (!sender || !sender->SendRequest(request)) return false;
    m_lastHttpStatus.store(sender->StatusCode());
    // Taken before, and whatever, the status: a login answer names its session in this header.
    if (!headerName.empty() && headerValue != nullptr) *headerValue = sender->QueryHeader(headerName);
    std::vector<std::uint8_t> body;
    if (sender->ReadAll(body) > 0 && sender->StatusCode() == 200) response.assign(body.begin(), body.end());
    if (sender->BodyTooLarge()) m_lastAnswerProblem.store(AnswerProblem::kTooLarge);
    return !response.empty();
}

bool CCiscoClient::SendOnly(const Web::HTTP_REQUEST& request) {
    TSmartPtr<Web::CHttpSender> sender = GetSender();
    m_lastHttpStatus.store(0);
    m_lastAnswerProblem.store(AnswerProblem::kNone);
    if (!sender || !sender->SendRequest(request)) return false;
    m_lastHttpStatus.store(sender->StatusCode());
    return true;
}

bool CCiscoClient::LoadDocument(const std::string& text) {
    FreeDocument();
    if (text.empty()) return false;
    m_document.reset(new (std::nothrow) CXmlParser);
    if (m_document && !m_document->LoadXml(text)) m_document.reset();
    return m_document != nullptr;
}

void CCiscoClient::FreeDocument() {
    if (!m_document) return;
    m_document->Close();
    m_document.reset();
}

template <typename Operation>
bool CCiscoClient::Guarded(Operation operation) {
    try {
        return operation();
    } catch (const std::exception&) {
        // Out of memory, most likely: a 32-bit host has little address space. The operation fails
        // and the client stays usable.
        FreeDocument();
        return false;
    }
}

template <typename Read>
bool CCiscoClient::ReadDocument(const std::string& text, Read read) {
    const bool ok = Guarded([&] { return LoadDocument(text) && read(*m_document); });
    FreeDocument();
    return ok;
}

bool CCiscoClient::CheckResponseStatus(const std::string& text) {
    return ReadDocument(text, [](CXmlParser& doc) { return IsOne(doc.GetNodeText("ResponseStatus/statusCode")); });
}

bool CCiscoClient::Connect(const DEVICE_INFO& record) {
    Disconnect();
    return Guarded([&] { return ConnectAndLogin(record); });
}

bool CCiscoClient::ConnectAndLogin(const DEVICE_INFO& record) {
    CSpinMutexGuard guard(m_lock);
    Web::CHttpSender* sender = new (std::nothrow) Web::CHttpSender(record);
    if (sender == nullptr) return false;
    sender->SetMaxBodySize(kMaxAnswerSize);
    // The receive time-out alone restarts with every byte: a camera that trickles would hold a
    // request, and its owner's stop, for ever.
    sender->SetRequestDeadline(record.operationTimeout);
    {
        std::lock_guard<std::mutex> senderGuard(m_senderLock);
        m_sender.Release();
        if (!m_sender.Attach(sender)) {
            delete sender;
            return false;
        }
    }
    // Checked after the new sender is visible, so an Abort from another thread reaches it either way.
    if (m_aborted.load()) sender->Abort();
    m_record = record;
    return Login();
}

bool CCiscoClient::Login() {
    API_COMMAND command = LoginCommand();
    command.userName = m_record.user;
    command.password = m_record.password;
    std::string response;
    if (!Transact(BuildLoginRequest(command), response, kSessionHeader, &m_sessionId)) return false;
    return CheckResponseStatus(response) && !m_sessionId.empty();
}

void CCiscoClient::Disconnect() {
    CSpinMutexGuard guard(m_lock);
    TSmartPtr<Web::CHttpSender> sender = GetSender();
    if (sender) sender->SetRequestDeadline(std::min(m_record.operationTimeout, kLogoutDeadlineMs));
    Guarded([this] {
        API_COMMAND command = LogoutCommand();
        command.sessionID = m_sessionId;
        std::string response;
        return Transact(BuildQueryRequest(command), response, std::string(), nullptr) &&
               CheckResponseStatus(response);
    });
    FreeDocument();
    std::lock_guard<std::mutex> senderGuard(m_senderLock);
    m_sender.Release();
}

std::string CCiscoClient::GetSessionId() {
    CSpinMutexGuard guard(m_lock);
    try {
        return m_sessionId;
    } catch (const std::exception&) {
        return std::string();
    }
}

bool CCiscoClient::Query(const API_COMMAND& prototype, std::string& response) {
    API_COMMAND command = prototype;
    command.sessionID = m_sessionId;
    return Transact(BuildQueryRequest(command), response, std::string(), nullptr);
}

bool CCiscoClient::GetDeviceBasicInfo(DEVICE_BASIC_INFO& info) {
    return Guarded([&] {
        std::string response;
        return Query(DeviceBasicInfoCommand(), response) && ReadDeviceBasicInfo(response, info);
    });
}

bool CCiscoClient::GetStreamingSetting(STREAMING_SETTING& setting) {
    return Guarded([&] {
        std::string response;
        return Query(GetStreamingCommand(), response) && ReadStreamingSetting(response, setting);
    });
}

bool CCiscoClient::GetIOPortSetting(IO_PORT_SETTING& setting) {
    return Guarded([&] {
        std::string response;
        return Query(IOPortSettingCommand(), response) && ReadIOPortSetting(response, setting);
    });
}

bool CCiscoClient::GetIOPortStatus(IO_PORT_STATUS& status) {
    return Guarded([&] {
        std::string response;
        return Query(IOPortStatusCommand(), response) && ReadIOPortStatus(response, status);
    });
}

bool CCiscoClient::SetStreamingSetting(const STREAMING_SETTING& setting) {
    return Guarded([&] {
        std::string document = BuildStreamingSettingDocument(setting);
        if (document.empty()) return false;
        API_COMMAND command = SetStreamingCommand();
        command.sessionID = m_sessionId;
        // Any answer is success: the channel then streams with whatever the camera kept.
        return SendOnly(BuildStreamingSettingRequest(command, document));
    });
}

bool CCiscoClient::TriggerOutputPort(std::uint32_t portIndex, std::uint32_t state) {
    return Guarded([&] {
        std::string document = BuildIOPortDataDocument(portIndex, state);
        if (document.empty()) return false;
        API_COMMAND command = TriggerCommand();
        command.sessionID = m_sessionId;
        std::string response;
        return Transact(BuildTriggerRequest(command, document), response, std::string(), nullptr) &&
               CheckResponseStatus(response);
    });
}

void CCiscoClient::Abort() {
    m_aborted.store(true);
    TSmartPtr<Web::CHttpSender> sender = GetSender();
    if (sender) sender->Abort();
}

void CCiscoClient::ResetAbort() {
    m_aborted.store(false);
    TSmartPtr<Web::CHttpSender> sender = GetSender();
    if (sender) sender->ResetAbort();
}

bool CCiscoClient::ReadDeviceBasicInfo(const std::string& text, DEVICE_BASIC_INFO& info) {
    return ReadDocument(text, [&](CXmlParser& doc) {
        const std::string base = "DeviceInfo/DeviceBasicInfo/";
        info.deviceName = doc.GetNodeText(base + "deviceName");
        info.model = doc.GetNodeText(base + "model");
        info.udi = doc.GetNodeText(base + "udi");
        info.macAddress = doc.GetNodeText(base + "macAddress");
        info.firmwareVersion = doc.GetNodeText(base + "firmwareVersion");
        return true;
    });
}

bool CCiscoClient::ReadStreamingSetting(const std::string& text, STREAMING_SETTING& setting) {
    return ReadDocument(text, [&](CXmlParser& doc) {
        setting.version = doc.GetNodeText("DeviceInfo/version");
        const std::string list = "DeviceInfo/StreamingSetting/StreamingChannelList/StreamingChannelEntry";
        // Counted before any record is made: a camera's answer of 4 MiB of empty entries would
        // otherwise become some 175 000 records and a write-back document of 150 MB.
        if (std::size_t(doc.CountNodes(list)) > kMaxStreamingChannels) {
            m_lastAnswerProblem.store(AnswerProblem::kTooManyStreams);
            return false;
        }
        ReadEntries(doc, list, kChannelFields, setting.channels);
        return !setting.channels.empty();
    });
}

bool CCiscoClient::ReadIOPortSetting(const std::string& text, IO_PORT_SETTING& setting) {
    return ReadDocument(text, [&](CXmlParser& doc) {
        ReadEntries(doc, "DeviceInfo/IOPortSetting/InputPortList/InputPortEntry", kInputFields, setting.inputs);
        ReadEntries(doc, "DeviceInfo/IOPortSetting/OutputPortList/OutputPortEntry", kOutputFields, setting.outputs);
        return true;
    });
}

bool CCiscoClient::ReadIOPortStatus(const std::string& text, IO_PORT_STATUS& status) {
    return ReadDocument(text, [&](CXmlParser& doc) {
        for (const std::string& state :
             doc.GetNodeTextList("DeviceInfo/IOPortStatus/InputPortList/InputPortEntry/ioStateType"))
            status.inputStates.push_back(IoStateCode(state));
        for (const std::string& state :
             doc.GetNodeTextList("DeviceInfo/IOPortStatus/OutputPortList/OutputPortEntry/ioStateType"))
            status.outputStates.push_back(IoStateCode(state));
        return true;
    });
}

}  // namespace kestrel
