// Quillon capture driver: the interfaces a recording server (the host) compiles against.
//
// Binary contract. Hosts are built with Visual C++, so its virtual-table layout is what counts:
// - No interface here declares a C++ destructor. The first entry of every table is `Destroy`,
//   which has the meaning and signature of Visual C++'s deleting destructor: bit 0 of `flags`
//   asks to free the memory. Hosts delete driver objects through `DeleteIPCapture`, never directly.
// - The remaining entries are plain virtual functions in a fixed order; no name is overloaded,
//   since Visual C++ groups overloaded virtuals together.
// - On 32-bit Windows every member function is thiscall (`this` in ECX, callee cleans the stack),
//   the default of both Visual C++ and MinGW g++; on 64-bit, `this` is the first argument.
// - Only scalars, pointers and the plain records below cross the boundary; no exceptions, no
//   standard-library types, no class results by value.
// - Entries marked "not used by the driver" hold their place in the host's table; the driver
//   never calls them.
//
// Calls back into the driver. From inside any callback, on any thread, the host may call any
// operation of any driver object. The driver calls the host with none of its locks held, and a
// call made from inside a callback never waits for a driver thread, since the thread that calls
// may be the very one it would wait for:
// - StopChannel, StartChannel and ReconfigureChannel, on the callback's own channel or any other,
//   and ICaptureIOApi::Stop: the stop is requested and the call returns at once. No new call
//   reaches that channel's sink (or the I/O callback) after it returns; a call already under way
//   on another driver thread may still be finishing. The stopped threads end by themselves and are
//   joined later (never killed): by the next StartChannel, StopChannel or ReconfigureChannel of
//   that index, or the next ICaptureIOApi::Start or Stop, made on a host thread, or by Uninit.
//   ReconfigureChannel restarts the channel without waiting, from a host thread too.
//   ICaptureIOApi::Start from inside a callback is refused (false) while the threads of its last
//   stop are still held.
// - Uninit: every channel and the I/O service are asked to stop as above; GetVideoCapture and
//   GetIOApi return null at once, no debug message follows, and the objects are destroyed by the
//   next Init, Uninit or deletion made on a host thread.
// - DeleteIPCapture: Uninit as above; the object itself is destroyed by the next CreateIPCapture
//   or DeleteIPCapture made on a host thread, since the calling thread still runs its code.
// - UninitCapabilityQuery from inside the query's callback: the query is cancelled and its
//   callback and results are forgotten at once (InitCapabilityQuery may follow); its worker ends
//   by itself and is joined by the next StartCapabilityQuery or UninitCapabilityQuery made on
//   another thread. StartCapabilityQuery from inside that callback returns 0.
// A frame the driver holds when its channel stops is still given back through
// IFramePool::ReleaseFrame, so the pool stays valid until the driver is deleted on a host
// thread. Before the module is unloaded, the host deletes its drivers and ends its capability
// query on host threads (not from inside callbacks): that joins every thread of the driver.
#ifndef QUILLON_QUILLON_H
#define QUILLON_QUILLON_H

#include <cstdint>

// A formatted diagnostic, lent to the host for the duration of IDebugInfoSink::OnDebugInfo.
class CDebugInfoIf {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual std::uint8_t GetLevel() = 0;
    virtual const char* GetText() = 0;  // never null; empty for an empty message
};

namespace kestrel::ipcapture {

// Codec numbers, as the host configures them.
enum : std::uint32_t { kCodecJpeg = 1, kCodecMpeg4 = 2, kCodecH264 = 3 };

// Four-character codes: the first character in the lowest byte.
constexpr std::uint32_t MakeFourCC(char a, char b, char c, char d) {
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
           std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}
constexpr std::uint32_t kFourCCJpeg = MakeFourCC('J', 'P', 'E', 'G');
constexpr std::uint32_t kFourCCH264Key = MakeFourCC('H', '2', '6', '4');
constexpr std::uint32_t kFourCCH264 = MakeFourCC('I', '2', '6', '4');
constexpr std::uint32_t kFourCCMpeg4Key = MakeFourCC('D', 'I', 'V', 'X');
constexpr std::uint32_t kFourCCMpeg4 = MakeFourCC('D', 'I', 'V', 'I');

// Start parameters of one channel.
struct CHANNEL_PARAMS {
    // Milliseconds per frame. 0 asks for the camera's fastest rate: 25 frames per second (30 for
    // a 480-line stream), 15 for JPEG over HTTP.
    std::uint32_t frameInterval;
    std::uint32_t quality;        // camera fixed-quality value
    std::uint32_t width;
    std::uint32_t height;
};

// ---- Host-side interfaces: the host implements them, the driver calls them. ----

class IDebugInfoSink {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    // Called from any driver thread, possibly concurrently, and on the host's own thread during
    // its calls (a stopped channel reports its camera offline). Any driver call may be made from
    // inside it (see the top of this file).
    virtual void OnDebugInfo(CDebugInfoIf* info) = 0;
};

// A frame buffer lent by the host's pool.
class IVideoFrame {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual std::uint32_t GetCapacity() = 0;  // not used by the driver
    virtual std::uint8_t* GetData() = 0;      // at least the capacity asked for
    virtual std::uint32_t GetDataSize() = 0;  // not used by the driver
    virtual void SetDataSize(std::uint32_t bytes) = 0;
    virtual void Complete() = 0;  // size, code and picture fields are set
    virtual std::uint64_t GetTimestamp() = 0;             // not used by the driver
    virtual void SetTimestamp(std::uint64_t time) = 0;    // not used by the driver
    virtual std::uint32_t GetFlags() = 0;                 // not used by the driver
    virtual void SetFlags(std::uint32_t flags) = 0;       // not used by the driver
    virtual void SetFourCC(std::uint32_t fourCC) = 0;
    virtual std::uint32_t GetFourCC() = 0;  // not used by the driver
    virtual void SetHeight(std::uint32_t height) = 0;
    virtual std::uint32_t GetHeight() = 0;  // not used by the driver
    virtual void SetWidth(std::uint32_t width) = 0;
    virtual std::uint32_t GetWidth() = 0;  // not used by the driver
    virtual void SetSizeClass(std::uint32_t sizeClass) = 0;
};

class IFramePool {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual std::uint32_t GetFrameCount() = 0;  // not used by the driver
    // Null when no buffer of that capacity is free. `source` names the producer ("Quillon").
    virtual IVideoFrame* AllocateFrame(std::uint32_t fourCC, std::uint32_t capacity,
                                       const char* source) = 0;
    virtual std::uint32_t GetFreeFrameCount() = 0;  // not used by the driver
    virtual std::uint32_t GetMaxCapacity() = 0;     // not used by the driver
    virtual void Trim() = 0;                        // not used by the driver
    // Gives the buffer back; called after every delivery attempt, accepted or not.
    virtual void ReleaseFrame(IVideoFrame* frame) = 0;
};

class IServerSettings {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual const char* GetServerName() = 0;        // not used by the driver
    virtual std::uint32_t GetServerVersion() = 0;   // not used by the driver
    virtual std::uint32_t GetChannelCount() = 0;
    virtual std::uint32_t GetAudioChannelCount() = 0;  // not used by the driver
    virtual std::uint32_t GetInputCount() = 0;
    virtual std::uint32_t GetOutputCount() = 0;
};

class ICameraSettings {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual const char* GetAddress() = 0;  // host name or dotted IPv4 address
    virtual std::uint16_t GetPort() = 0;   // web (HTTP) port
    virtual const char* GetModel() = 0;    // not used by the driver
    virtual std::uint32_t GetCodec() = 0;  // kCodecJpeg, kCodecMpeg4 or kCodecH264
    virtual const char* GetUser() = 0;
    virtual const char* GetPassword() = 0;
};

class IDriverSettings {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual IServerSettings* GetServerSettings() = 0;
    virtual ICameraSettings* GetCameraSettings() = 0;
    virtual std::uint32_t GetParameterCount() = 0;  // not used by the driver
    // Keyed parameters from 1; null past the last one. "(none)" counts as absent.
    //   1  "1": a JPEG camera streams MJPEG over HTTP; anything else: RTP over RTSP.
    //   2  the RTSP transport of RTP, in any letter case: "udp" (only UDP), "tcp" (RTP inside
    //      the RTSP connection, RFC 2326 section 10.12) or "auto"; absent or anything else means
    //      auto: UDP first, then TCP when the camera refuses UDP (461) or no RTP packet arrives
    //      within 2 to 3 s of PLAY. A channel that needed TCP keeps it at its reconnections until
    //      the host starts it again.
    virtual const char* GetParameter(std::uint32_t key) = 0;
};

class IVideoSize {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual std::uint32_t GetWidth() = 0;
    virtual std::uint32_t GetHeight() = 0;
};

class IVideoFormat {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual std::uint32_t GetCodec() = 0;       // not used by the driver
    virtual std::uint32_t GetColorDepth() = 0;  // not used by the driver
    virtual IVideoSize* GetSize() = 0;
};

class IRateSettings {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual std::uint32_t GetFrameInterval() = 0;  // milliseconds per frame; 0: the fastest rate
    virtual std::uint32_t GetBitRate() = 0;        // not used by the driver
    virtual std::uint32_t GetQuality() = 0;
};

class IChannelSettings {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual IVideoFormat* GetVideoFormat() = 0;
    virtual IRateSettings* GetRateSettings() = 0;
};

// Per-channel receiver of frames; called on the channel's threads (DeliverFrame on its receive
// thread or its worker, OnSignalLost on its worker). Stopping, restarting or reconfiguring this
// channel or another, Uninit and DeleteIPCapture may all be called from inside either.
class IChannelSink {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual bool DeliverFrame(IVideoFrame* frame) = 0;  // true: accepted
    virtual void OnChannelEvent(std::uint32_t event) = 0;  // not used by the driver
    virtual void OnSignalLost() = 0;  // no frame for twice the frame time-out
};

// Called on the I/O service's input thread (inputs, failures), its output thread (failures) and,
// during ICaptureIOApi::Start, the host's calling thread. ICaptureIOApi::Stop (which then fails a
// Start in progress), Uninit and DeleteIPCapture may be called from inside.
class ICaptureIOCallback {
public:
    virtual void* Destroy(unsigned int flags) = 0;  // not used by the driver
    virtual void OnInputStateChanged(std::uint32_t port, std::uint32_t state) = 0;
    virtual void OnIOFailure() = 0;
};

// ---- Capability query: the host's result objects and callback. ----

// One text item of the results (a connection value written back by the driver).
class ICapabilityItem {
public:
    virtual void* Destroy(unsigned int flags) = 0;  // not used by the driver
    virtual void SetText(const char* text) = 0;
    virtual const char* GetText() = 0;  // not used by the driver
};

// A named property of the camera's own, with a text value.
class ICapabilityCustomProperty {
public:
    virtual void* Destroy(unsigned int flags) = 0;  // not used by the driver
    virtual void SetValue(const char* value) = 0;
    virtual const char* GetValue() = 0;  // not used by the driver
    virtual const char* GetName() = 0;   // not used by the driver
    virtual void SetReadOnly(std::uint32_t readOnly) = 0;  // the driver writes 0
    virtual void SetName(const char* name) = 0;
    virtual void SetValueType(std::uint32_t type) = 0;  // the driver writes 0
};

class ICapabilityResolutionList {
public:
    virtual void* Destroy(unsigned int flags) = 0;  // not used by the driver
    // text is "WIDTHxHEIGHT"; frameInterval in milliseconds (0: none known).
    virtual void AddResolutionItem(const char* text, std::uint32_t width, std::uint32_t height,
                                   std::uint32_t frameInterval) = 0;
    virtual std::uint32_t GetCount() = 0;  // not used by the driver
};

class ICapabilityValueList {
public:
    virtual void* Destroy(unsigned int flags) = 0;  // not used by the driver
    virtual void SetDefaultValue(std::uint32_t value) = 0;
    virtual void AddValue(std::uint32_t value) = 0;
    virtual std::uint32_t GetCount() = 0;  // not used by the driver
};

// Where a capability query writes what it found. Called on the query's worker thread; every text
// is NUL-terminated and valid only during the call. Returned objects belong to the host.
class ICapabilityResults {
public:
    virtual void* Destroy(unsigned int flags) = 0;  // not used by the driver
    // Property ids 0 to 12; what each means is the host's.
    virtual void SetProperty(std::uint32_t id, std::uint32_t value) = 0;
    virtual void SetModelName(const char* text) = 0;
    // 1 address, 2 port, 3 user name, 4 password.
    virtual ICapabilityItem* GetConnectionItem(std::uint32_t index) = 0;
    virtual std::uint32_t GetConnectionItemCount() = 0;  // not used by the driver
    virtual ICapabilityCustomProperty* GetCustomProperty(std::uint32_t index) = 0;
    virtual ICapabilityResolutionList* GetResolutionList() = 0;
    virtual std::uint32_t GetCustomPropertyCount() = 0;  // not used by the driver
    // Kind 1: frame intervals in milliseconds.
    virtual ICapabilityValueList* GetValueList(std::uint32_t kind) = 0;
};

// Learns how a capability query ended; called at most once per started query, on its worker
// thread, never once UninitCapabilityQuery has begun. Terminate, Uninit and Init may be called
// from inside it; Start returns 0 there.
class ICapabilityQueryCallback {
public:
    virtual void* Destroy(unsigned int flags) = 0;  // not used by the driver
    virtual void OnQueryStarted() = 0;              // not used by the driver
    virtual void OnQueryCompleted() = 0;            // the results were written
    // code is 3; text is valid during the call. A query ended by TerminateCapabilityQuery fails.
    virtual void OnQueryFailed(std::uint32_t code, const char* text) = 0;
};

// ---- Driver-side interfaces: the driver implements them, the host calls them. ----

class ICaptureIOApi {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual bool SetCallback(ICaptureIOCallback* callback) = 0;
    virtual bool Start() = 0;
    virtual bool Stop() = 0;
    virtual std::uint32_t GetInputCount() = 0;
    virtual std::uint32_t GetOutputCount() = 0;
    virtual bool SetOutput(std::uint32_t port, std::uint32_t state) = 0;
};

class IIPVideoCapture {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    virtual std::uint32_t GetChannelCount() = 0;
    virtual bool StartChannel(std::uint32_t channel, IChannelSink* sink,
                              IChannelSettings* settings) = 0;
    // On a host thread, operations on one index take turns, and StopChannel returns once the
    // channel's threads have ended. From inside a callback none of them waits (see the top).
    virtual bool StopChannel(std::uint32_t channel) = 0;
    // Restarts the channel with the new size and rate, without waiting and without an offline
    // report: the camera stays online for the host. False for a stopped or empty index.
    virtual bool ReconfigureChannel(std::uint32_t channel, IVideoSize* size,
                                    std::uint32_t frameInterval) = 0;
    virtual void* QueryCaptureExtension() = 0;  // always null
    // state: 0 streaming, 2 no frame within the frame time-out, 3 stopped or not connected.
    // text (when textSize > 0): one line for the operator, cut to textSize - 1 characters and
    // NUL-terminated: the channel's condition ("streaming H.264 704x576 25.0 fps 3.9 Mbit/s",
    // "connecting: web API login refused (HTTP 401)", "no frames for 6 s from 10.1.2.3 (...)"),
    // then " | " and its counters ("packets N, gaps N, frames N, refused N, no buffer N,
    // kernel drops N, ..."). RTP inside the RTSP connection says so and why ("streaming ...
    // 3.9 Mbit/s over TCP (no UDP arrived)", "(UDP refused)" or "(asked)"); kernel drops then
    // read "n/a", and "resyncs N" counts the runs of bytes skipped on the connection.
    virtual bool GetChannelState(std::uint32_t channel, std::uint32_t* state,
                                 std::uint32_t* reserved, char* text, std::uint32_t textSize) = 0;
    virtual bool Reserved1(std::uint32_t a, std::uint32_t b, std::uint32_t c) = 0;  // false
    virtual bool Reserved2(std::uint32_t a, std::uint32_t b, std::uint32_t c) = 0;  // false
};

class IIPCaptureDriver {
public:
    virtual void* Destroy(unsigned int flags) = 0;
    // The settings objects are borrowed for the call; sink and pool must outlive Uninit.
    virtual bool Init(IDebugInfoSink* debugSink, IFramePool* framePool,
                      IDriverSettings* settings) = 0;
    virtual void Uninit() = 0;
    virtual IIPVideoCapture* GetVideoCapture() = 0;  // null before Init and after Uninit
    virtual ICaptureIOApi* GetIOApi() = 0;           // null before Init and after Uninit
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
public:
    virtual void* QueryExtension() = 0;      // always null
    virtual void* GetAuxiliaryObject() = 0;  // always null
};

}  // namespace kestrel::ipcapture

// Module exports: C linkage, cdecl. Both Create functions return the same object.
extern "C" {
kestrel::ipcapture::IIPCaptureDriver* CreateIPCapture();
kestrel::ipcapture::IIPCaptureDriverEx* CreateIPCaptureEx();
void DeleteIPCapture(kestrel::ipcapture::IIPCaptureDriver* driver);
void DeleteIPCaptureEx(kestrel::ipcapture::IIPCaptureDriverEx* driver);

// Capability query: one at a time per process. Each returns 1 for success, 0 for failure.
// Order: Init -> Start -> (callback, or the host gives up) -> [Terminate] -> Uninit.
// 0 if a callback is already registered. videoStandard480 asks for the 480-line standard.
std::uint32_t InitCapabilityQuery(kestrel::ipcapture::ICapabilityQueryCallback* callback,
                                  bool videoStandard480);
// Starts the worker that fills `results` (borrowed until Uninit); 0 while a query is running.
std::uint32_t StartCapabilityQuery(const char* address, std::uint16_t port, const char* user,
                                   const char* password,
                                   kestrel::ipcapture::ICapabilityResults* results);
// Asks a running query to stop between its steps; it then fails. Always 1.
std::uint32_t TerminateCapabilityQuery();
// Ends the query within about five seconds; no callback and no write into the results begins
// once it is called. Always 1.
std::uint32_t UninitCapabilityQuery();
}

#endif  // QUILLON_QUILLON_H
