// CCiscoClient: the camera's XML-over-HTTP configuration interface. It logs in with the camera
// account, keeps the session identifier that the camera hands out, and offers one operation per
// document: device information, streaming settings (read and write), I/O port settings and status,
// and output triggering.
//
// Threading: an owner uses its client from one thread at a time. Connect, Disconnect and the
// sender hand-out hold the client's lock, so a reconnect never destroys a sender that a request on
// another thread still uses. Abort() may be called from any thread. No operation throws: failures,
// running out of memory included, are false results, and operations before Connect fail without
// network traffic. The request builders (for tests) may throw std::bad_alloc.
#ifndef QUILLON_WEBAPI_CISCO_CLIENT_H
#define QUILLON_WEBAPI_CISCO_CLIENT_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/driver_interface.h"
#include "webapi/http_sender.h"
#include "webapi/smart_ptr.h"
#include "webapi/webapi_documents.h"
#include "runtime/spin_mutex.h"
#include "webapi/xml_parser.h"

namespace kestrel {

// One request of the interface, built on the stack. `sessionID` is unused for the login, which
// carries `userName` and `password` instead.
struct API_COMMAND {
    std::string method;
    std::string document;
    std::string action;
    std::string version;
    std::string contentType;
    std::string sessionID;
    std::string userName;
    std::string password;
};

class CCiscoClient {
public:
    // Largest answer body read; the documents are a few KiB, and a 32-bit host has little address
    // space to spare for a camera that sends more.
    static constexpr std::size_t kMaxAnswerSize = 4 * 1024 * 1024;
    // Most streams read from a settings answer: cameras have a handful, and each one read is
    // written back whole.
    static constexpr std::size_t kMaxStreamingChannels = 64;
    // The logout is a courtesy to the camera, whose session would otherwise expire by itself:
    // the owner's stop or teardown does not wait longer for it.
    static constexpr std::uint32_t kLogoutDeadlineMs = 1000;

    // What was wrong with an answer that made an operation fail, beyond its HTTP status.
    enum class AnswerProblem { kNone, kTooLarge, kTooManyStreams };

    CCiscoClient();
    virtual ~CCiscoClient();
    CCiscoClient(const CCiscoClient&) = delete;
    CCiscoClient& operator=(const CCiscoClient&) = delete;

    // Logs out of any earlier session, takes a new sender for `record` and logs in. True when the
    // camera accepted the login and named a session. A failed login keeps the new sender. Every
    // request then ends within the record's operation time-out, however slowly the camera answers.
    bool Connect(const DEVICE_INFO& record);
    // Logs out (within kLogoutDeadlineMs) and releases the sender.
    void Disconnect();
    // The last session identifier; kept after Disconnect until the next login.
    std::string GetSessionId();

    bool GetDeviceBasicInfo(DEVICE_BASIC_INFO& info);
    bool GetStreamingSetting(STREAMING_SETTING& setting);
    bool GetIOPortSetting(IO_PORT_SETTING& setting);
    bool GetIOPortStatus(IO_PORT_STATUS& status);
    // True whenever the camera answered at all: its status code is not looked at.
    bool SetStreamingSetting(const STREAMING_SETTING& setting);
    // True when the camera answered with status code 1. State 0 sends nothing and fails.
    bool TriggerOutputPort(std::uint32_t portIndex, std::uint32_t state);

    // The HTTP status of the last request's answer; 0 when none came (no connection, a time-out,
    // an abort). Tells a refused login (401) from an unreachable camera.
    std::uint32_t GetLastHttpStatus() const { return m_lastHttpStatus.load(); }
    // Of the last request's answer.
    AnswerProblem GetLastAnswerProblem() const { return m_lastAnswerProblem.load(); }
    // Makes the request in progress and every later one fail at once, until ResetAbort(); for an
    // owner whose stop must not wait for a camera that hangs mid-request.
    void Abort();
    void ResetAbort();
    // After a failed Connect or operation: the Digest algorithm the camera asks for when it
    // offers only algorithms this platform's HTTP stack lacks (e.g. "SHA-256" under WinHTTP, which
    // has MD5 Digest only); empty otherwise.
    std::string GetUnansweredDigestAlgorithm();

    // The readers of the response documents. Records must arrive freshly made: lists are appended to.
    bool ReadDeviceBasicInfo(const std::string& text, DEVICE_BASIC_INFO& info);
    // Fails on more than kMaxStreamingChannels entries.
    bool ReadStreamingSetting(const std::string& text, STREAMING_SETTING& setting);
    bool ReadIOPortSetting(const std::string& text, IO_PORT_SETTING& setting);
    bool ReadIOPortStatus(const std::string& text, IO_PORT_STATUS& status);
    // True when "ResponseStatus/statusCode" is the integer 1 (one optional sign, digits only).
    bool CheckResponseStatus(const std::string& text);

    // The request each operation sends, exposed for tests of the wire forms.
    static Web::HTTP_REQUEST BuildLoginRequest(const API_COMMAND& command);
    static Web::HTTP_REQUEST BuildQueryRequest(const API_COMMAND& command);
    static Web::HTTP_REQUEST BuildStreamingSettingRequest(const API_COMMAND& command, const std::string& document);
    static Web::HTTP_REQUEST BuildTriggerRequest(const API_COMMAND& command, const std::string& document);

private:
    TSmartPtr<Web::CHttpSender> GetSender();
    bool Transact(const Web::HTTP_REQUEST& request, std::string& response, const std::string& headerName,
                  std::string* headerValue);
    bool SendOnly(const Web::HTTP_REQUEST& request);
    bool LoadDocument(const std::string& text);
    void FreeDocument();
    // Loads `text`, lets `read` take what it needs from the document, frees the document.
    // False when the text is no document, when `read` says so, or when memory runs out.
    template <typename Read>
    bool ReadDocument(const std::string& text, Read read);
    // The result of `operation`, or false when it throws; the document it left is dropped.
    template <typename Operation>
    bool Guarded(Operation operation);
    bool ConnectAndLogin(const DEVICE_INFO& record);
    bool Login();
    bool Query(const API_COMMAND& command, std::string& response);

    CSpinMutex m_lock;                           // the connect and disconnect sequences
    std::mutex m_senderLock;                     // m_sender only; never held across a request
    TSmartPtr<Web::CHttpSender> m_sender;
    std::unique_ptr<CXmlParser> m_document;      // current response; owner's thread only
    DEVICE_INFO m_record;
    std::string m_sessionId;
    std::atomic<bool> m_aborted{false};
    std::atomic<std::uint32_t> m_lastHttpStatus{0};
    std::atomic<AnswerProblem> m_lastAnswerProblem{AnswerProblem::kNone};
};

}  // namespace kestrel

#endif
