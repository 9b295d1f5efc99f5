#include "camsim/web_api.h"

#include <memory>
#include <random>

#include <pugixml.hpp>

#include "camsim/text.h"

namespace camsim {
namespace {

// A camera holds few sessions; beyond this the oldest ends, so logins without logouts stay bounded.
constexpr std::size_t kMaxSessions = 512;
constexpr const char* kXmlHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n";

WebApi::SessionSource RandomSessions() {
    auto engine = std::make_shared<std::mt19937_64>(std::random_device{}());
    auto lock = std::make_shared<std::mutex>();
    return [engine, lock] {
        std::lock_guard<std::mutex> guard(*lock);
        return HexText((*engine)(), 16);
    };
}

HttpResponse Xml(const std::string& body) {
    HttpResponse response;
    response.body = body;
    return response;
}

HttpResponse Status(int code, const std::string& text) { return Xml(StatusDocument(code, text)); }

std::string Element(const char* name, const std::string& value) {
    return std::string("<") + name + ">" + value + "</" + name + ">";
}

// The action of a request: in its query, or, for the writes, in the "QueryString" header.
std::string ActionOf(const HttpRequest& request, const std::map<std::string, std::string>& query) {
    auto found = query.find("action");
    if (found != query.end()) return found->second;
    return ParseQuery(request.Header("QueryString"))["action"];
}

}  // namespace

// Status answers have ResponseStatus as their document element, unlike the data documents.
std::string StatusDocument(int code, const std::string& text) {
    return std::string(kXmlHeader) + "<ResponseStatus>\r\n" + Element("statusCode", std::to_string(code)) + "\r\n" +
           Element("statusString", text) + "\r\n</ResponseStatus>";
}

WebApi::WebApi(const CameraConfig& config, StreamingSettings& settings, IoPorts& ports, Faults& faults,
               SessionSource sessions)
    : m_config(config),
      m_settings(settings),
      m_ports(ports),
      m_faults(faults),
      m_sessionSource(sessions ? std::move(sessions) : RandomSessions()) {}

std::string WebApi::RequestName(const HttpRequest& request) {
    if (request.document != "System.xml") return request.document;
    std::map<std::string, std::string> fields = ParseQuery(request.query);
    if (fields.count("action") == 0) fields = ParseQuery(request.body);
    return fields["action"];
}

bool WebApi::IsSession(const std::string& id) {
    std::lock_guard<std::mutex> guard(m_lock);
    return !id.empty() && m_sessions.count(id) != 0;
}

void WebApi::EndSessions() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_sessions.clear();
}

std::size_t WebApi::SessionCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sessions.size();
}

HttpResponse WebApi::Handle(const HttpRequest& request) {
    std::map<std::string, std::string> query = ParseQuery(request.query);
    const std::string action = ActionOf(request, query);
    if (request.document == "System.xml") {
        std::map<std::string, std::string> form = ParseQuery(request.body);
        if (form.count("action") != 0 && form["action"] == "login") return Login(form);
        if (action == "login") return Login(query);
        if (action == "logout") return Logout(query["sessionID"]);
        return Status(kStatusBadRequest, "Invalid Request");
    }
    std::string session = query.count("sessionID") != 0 ? query["sessionID"] : request.Header("sessionID");
    if (!IsSession(session)) return Status(kStatusInvalidSession, "Invalid Session");

    const bool post = request.method == "POST";
    if (request.document == "DeviceBasicInfo.xml" && action == "get") return DeviceBasicInfo();
    if (request.document == "StreamingSetting.xml" && !post && action == "get") return Xml(m_settings.Document());
    if (request.document == "StreamingSetting.xml" && post && action == "set") return SetStreamingSetting(request.body);
    if (request.document == "IOPortSetting.xml" && action == "get") return IoPortSetting();
    if (request.document == "IOPortStatus.xml" && action == "get") return IoPortStatus();
    if (request.document == "IOPortData.xml" && post && action == "triggerOutputPort") return TriggerOutput(request.body);
    return Status(kStatusUnknownDocument, "Unsupported Request");
}

HttpResponse WebApi::Login(const std::map<std::string, std::string>& form) {
    auto field = [&](const char* name) {
        auto found = form.find(name);
        return found == form.end() ? std::string() : found->second;
    };
    if (field("userName") != m_config.user || field("password") != m_config.password)
        return Status(kStatusBadLogin, "Invalid User Name or Password");
    std::string id = m_sessionSource();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_sessions.size() >= kMaxSessions) {
            auto oldest = m_sessions.begin();
            for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it)
                if (it->second < oldest->second) oldest = it;
            m_sessions.erase(oldest);
        }
        m_sessions[id] = ++m_logins;
    }
    HttpResponse response = Status(kStatusOk, "OK");
    response.headers.push_back("sessionID: " + id);
    return response;
}

HttpResponse WebApi::Logout(const std::string& session) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_sessions.erase(session) == 0) return Status(kStatusInvalidSession, "Invalid Session");
    return Status(kStatusOk, "OK");
}

HttpResponse WebApi::DeviceBasicInfo() {
    return Xml(std::string(kXmlHeader) + "<DeviceInfo>\r\n<version>1.0</version>\r\n<DeviceBasicInfo>\r\n" +
               Element("deviceName", m_config.deviceName) + "\r\n" + Element("model", m_config.model) + "\r\n" +
               Element("udi", m_config.udi) + "\r\n" + Element("macAddress", m_config.macAddress) + "\r\n" +
               Element("firmwareVersion", m_config.firmwareVersion) + "\r\n</DeviceBasicInfo>\r\n</DeviceInfo>");
}

HttpResponse WebApi::SetStreamingSetting(const std::string& body) {
    if (!m_settings.Apply(body)) return Status(kStatusBadRequest, "Invalid Document");
    if (m_observer) m_observer();
    return Status(kStatusOk, "OK");
}

HttpResponse WebApi::IoPortSetting() {
    std::string body = std::string(kXmlHeader) + "<DeviceInfo>\r\n<version>1.0</version>\r\n<IOPortSetting>\r\n";
    body += "<InputPortList>\r\n";
    for (unsigned port = 1; port <= m_ports.InputCount(); ++port)
        body += "<InputPortEntry>" + Element("ioPortID", std::to_string(port)) + Element("triggeringType", "1") +
                "</InputPortEntry>\r\n";
    body += "</InputPortList>\r\n<OutputPortList>\r\n";
    for (unsigned port = 1; port <= m_ports.OutputCount(); ++port)
        body += "<OutputPortEntry>" + Element("ioPortID", std::to_string(port)) + "<PowerOnState>" +
                Element("defaultStateType", "1") + Element("outputStateType", "1") +
                Element("pulseDuration", "1000") + "</PowerOnState><ManualControl>" +
                Element("actionMappingType", "1") + "</ManualControl></OutputPortEntry>\r\n";
    body += "</OutputPortList>\r\n</IOPortSetting>\r\n</DeviceInfo>";
    return Xml(body);
}

HttpResponse WebApi::IoPortStatus() {
    std::vector<unsigned> inputs = m_ports.Inputs();
    // The fault lists more or fewer inputs than the camera has; missing ones read inactive.
    if (std::optional<unsigned> reported = m_faults.ReportedInputCount()) inputs.resize(*reported, kIoInactive);
    auto list = [](const char* entry, const std::vector<unsigned>& states) {
        std::string text;
        for (std::size_t i = 0; i < states.size(); ++i)
            text += std::string("<") + entry + ">" + Element("ioPortID", std::to_string(i + 1)) +
                    Element("ioStateType", std::to_string(states[i])) + "</" + entry + ">\r\n";
        return text;
    };
    return Xml(std::string(kXmlHeader) + "<DeviceInfo>\r\n<version>1.0</version>\r\n<IOPortStatus>\r\n" +
               "<InputPortList>\r\n" + list("InputPortEntry", inputs) + "</InputPortList>\r\n<OutputPortList>\r\n" +
               list("OutputPortEntry", m_ports.Outputs()) + "</OutputPortList>\r\n</IOPortStatus>\r\n</DeviceInfo>");
}

HttpResponse WebApi::TriggerOutput(const std::string& body) {
    pugi::xml_document document;
    if (!document.load_buffer(body.data(), body.size())) return Status(kStatusBadRequest, "Invalid Document");
    pugi::xml_node data = document.first_element_by_path("/DeviceInfo/IOPortData");
    unsigned port = 0, state = 0;
    if (!ParseNumber(Trim(data.child("ioPortID").text().get()), port) ||
        !ParseNumber(Trim(data.child("outputStateType").text().get()), state) || !m_ports.Trigger(port, state))
        return Status(kStatusBadRequest, "Invalid Port or State");
    return Status(kStatusOk, "OK");
}

}  // namespace camsim
