#include "camsim/http_message.h"

#include <random>
#include <thread>

#include "camsim/text.h"

namespace camsim {
namespace {

constexpr int kReceivePollMs = 200;

bool ReceiveMore(Connection& connection, std::string& buffer, const std::atomic<bool>& stopping) {
    while (!stopping) {
        bool timedOut = false;
        if (!connection.ReceiveSome(buffer, kReceivePollMs, timedOut)) return false;
        if (!timedOut) return true;
    }
    return false;
}

bool ParseHead(const std::string& head, const std::string& protocol, HttpRequest& request) {
    std::vector<std::string> lines = Split(head, '\n');
    std::vector<std::string> words = Split(Trim(lines[0]), ' ');
    if (words.size() != 3 || words[2].compare(0, protocol.size(), protocol) != 0) return false;
    request.method = words[0];
    request.target = words[1];
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string line = Trim(lines[i]);
        if (line.empty()) continue;
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) return false;
        request.headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
    }
    std::string path = request.target;
    std::size_t question = path.find('?');
    if (question != std::string::npos) {
        request.query = path.substr(question + 1);
        path.resize(question);
    }
    // The camera's client names its documents with or without the leading slash.
    while (!path.empty() && path[0] == '/') path.erase(0, 1);
    request.document = path;
    return true;
}

}  // namespace

std::string HttpRequest::Header(const std::string& name) const {
    for (const auto& header : headers)
        if (EqualsNoCase(header.first, name)) return header.second;
    return std::string();
}

ParseResult ParseRequest(std::string& buffer, HttpRequest& request, const char* protocol) {
    request = HttpRequest();
    const std::size_t end = buffer.find("\r\n\r\n");
    if (end == std::string::npos)
        return buffer.size() > kMaxHeaderBytes ? ParseResult::kMalformed : ParseResult::kNeedHead;
    if (end > kMaxHeaderBytes || !ParseHead(buffer.substr(0, end), protocol, request))
        return ParseResult::kMalformed;
    if (!request.Header("Transfer-Encoding").empty()) return ParseResult::kMalformed;
    unsigned length = 0;
    std::string lengthText = request.Header("Content-Length");
    if (!lengthText.empty() && (!ParseNumber(lengthText, length) || length > kMaxBodyBytes))
        return ParseResult::kMalformed;
    const std::size_t bodyStart = end + 4;
    if (buffer.size() - bodyStart < length) return ParseResult::kNeedBody;
    request.body = buffer.substr(bodyStart, length);
    buffer.erase(0, bodyStart + length);
    return ParseResult::kRequest;
}

ReadResult ReadRequest(Connection& connection, std::string& buffer, const std::atomic<bool>& stopping,
                       HttpRequest& request, const char* protocol) {
    bool continueSent = false;
    for (;;) {
        switch (ParseRequest(buffer, request, protocol)) {
        case ParseResult::kRequest: return ReadResult::kRequest;
        case ParseResult::kMalformed: return ReadResult::kMalformed;
        case ParseResult::kNeedBody:
            if (!continueSent && EqualsNoCase(request.Header("Expect"), "100-continue"))
                connection.SendAll(std::string("HTTP/1.1 100 Continue\r\n\r\n"));
            continueSent = true;
            break;
        case ParseResult::kNeedHead: break;
        }
        if (!ReceiveMore(connection, buffer, stopping)) return ReadResult::kClosed;
    }
}

const char* ReasonPhrase(int status) {
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "Not Acceptable";
    case 415: return "Unsupported Media Type";
    case 454: return "Session Not Found";
    case 459: return "Aggregate Operation Not Allowed";
    case 461: return "Unsupported Transport";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

std::string FormatHttpResponse(const HttpResponse& response) {
    std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonPhrase(response.status) + "\r\n";
    text += "Server: camsim\r\n";
    for (const std::string& line : response.headers) text += line + "\r\n";
    if (!response.body.empty()) text += "Content-Type: " + response.contentType + "\r\n";
    text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n\r\n";
    text += response.body;
    return text;
}

bool DelayAnswer(Connection& connection, const AnswerOverride& answer, const std::atomic<bool>& stopping) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(answer.delayMs);
    while (!stopping && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!answer.never) return !stopping;
    std::string ignored;
    bool timedOut = false;
    while (!stopping && connection.ReceiveSome(ignored, kReceivePollMs, timedOut)) ignored.clear();
    return false;
}

std::string GarbageBytes() {
    std::mt19937 random(std::random_device{}());
    std::string bytes(64 + random() % 448, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

}  // namespace camsim
