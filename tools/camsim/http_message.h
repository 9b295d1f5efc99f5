// HTTP/1.1 (and RTSP/1.0) request reading and response writing for the web server: one request at a time from
// a kept connection, bodies by Content-Length only, "Expect: 100-continue" answered.
#ifndef QUILLON_TOOLS_CAMSIM_HTTP_MESSAGE_H
#define QUILLON_TOOLS_CAMSIM_HTTP_MESSAGE_H

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "camsim/faults.h"
#include "camsim/net.h"

namespace camsim {

struct HttpRequest {
    std::string method;
    std::string target;    // as on the request line
    std::string document;  // the target's path without a leading '/' and without the query
    std::string query;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    std::string Header(const std::string& name) const;  // case-insensitive; "" when absent
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/xml";
    std::vector<std::string> headers;  // whole lines without CR LF
    std::string body;
};

enum class ReadResult { kRequest, kClosed, kMalformed };

// Limits that keep a hostile client from growing the server's buffers.
constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
constexpr std::size_t kMaxBodyBytes = 1024 * 1024;

enum class ParseResult { kRequest, kNeedHead, kNeedBody, kMalformed };

// Takes one whole request from the front of `buffer`; on kNeedBody `request` holds its head and
// `buffer` is left as it was. RTSP requests have the same form with "RTSP/" as the protocol.
ParseResult ParseRequest(std::string& buffer, HttpRequest& request, const char* protocol);

// `buffer` keeps bytes that arrive after the request for the next call.
ReadResult ReadRequest(Connection& connection, std::string& buffer, const std::atomic<bool>& stopping,
                       HttpRequest& request, const char* protocol = "HTTP/");
std::string FormatHttpResponse(const HttpResponse& response);
const char* ReasonPhrase(int status);

// Carries out an answer override's wait: sleeps its delay, or for a never-answered request waits
// until the peer leaves or the server stops. False when no answer is to follow.
bool DelayAnswer(Connection& connection, const AnswerOverride& answer, const std::atomic<bool>& stopping);
// Random bytes in place of an answer.
std::string GarbageBytes();

}  // namespace camsim

#endif
