/* A recording-server host in plain C. It knows the driver only by its exports and by the
 * position of each operation in the objects' tables, the way a host built with another
 * compiler does, and implements its own objects the same way. Exit code 0 means every check
 * held. With a camera's web port as its argument it also runs a capability query against it
 * and streams from it, calling back into the driver from inside the channel's callbacks; without
 * one it queries a port where nothing listens. */
#include <stdatomic.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef void* (MEMBER_CALL *DestroyFn)(void* self, unsigned flags);
typedef void (*AnyFn)(void);

/* Every object starts with its table. */
typedef struct Object {
    const AnyFn* table;
} Object;

#define SLOT(object, index, type) ((type)(((const Object*)(object))->table[index]))

/* ---- The driver's objects, by slot. ---- */
enum { kDestroy = 0 };
enum { kDriverInit = 1, kDriverUninit, kDriverGetVideoCapture, kDriverGetIOApi,
       kDriverQueryExtension, kDriverGetAuxiliaryObject };
enum { kCaptureGetChannelCount = 1, kCaptureStartChannel, kCaptureStopChannel,
       kCaptureReconfigureChannel, kCaptureQueryExtension, kCaptureGetChannelState,
       kCaptureReserved1, kCaptureReserved2 };
enum { kIOSetCallback = 1, kIOStart, kIOStop, kIOGetInputCount, kIOGetOutputCount, kIOSetOutput };
enum { kInfoGetLevel = 1, kInfoGetText };

typedef bool (MEMBER_CALL *InitFn)(void* self, void* sink, void* pool, void* settings);
typedef void (MEMBER_CALL *VoidFn)(void* self);
typedef void* (MEMBER_CALL *PointerFn)(void* self);
typedef uint32_t (MEMBER_CALL *CountFn)(void* self);
typedef bool (MEMBER_CALL *StartChannelFn)(void* self, uint32_t channel, void* sink,
                                           void* settings);
typedef bool (MEMBER_CALL *IndexFn)(void* self, uint32_t channel);
typedef bool (MEMBER_CALL *ReconfigureFn)(void* self, uint32_t channel, void* size,
                                          uint32_t frameInterval);
typedef bool (MEMBER_CALL *ChannelStateFn)(void* self, uint32_t channel, uint32_t* state,
                                           uint32_t* reserved, char* text, uint32_t textSize);
typedef bool (MEMBER_CALL *ReservedFn)(void* self, uint32_t a, uint32_t b, uint32_t c);
typedef uint8_t (MEMBER_CALL *LevelFn)(void* self);
typedef const char* (MEMBER_CALL *TextFn)(void* self);

void* CreateIPCapture(void);
void* CreateIPCaptureEx(void);
void DeleteIPCapture(void* driver);
void DeleteIPCaptureEx(void* driver);
uint32_t InitCapabilityQuery(void* callback, bool videoStandard480);
uint32_t StartCapabilityQuery(const char* address, uint16_t port, const char* user,
                              const char* password, void* results);
uint32_t TerminateCapabilityQuery(void);
uint32_t UninitCapabilityQuery(void);

/* ---- The host's objects. ---- */
static void* MEMBER_CALL HostDestroy(void* self, unsigned flags) { (void)flags; return self; }
static uint32_t MEMBER_CALL HostZero(void* self) { (void)self; return 0; }
static const char* MEMBER_CALL HostEmptyText(void* self) { (void)self; return ""; }

typedef struct DebugSink {
    const AnyFn* table;
    int count;
    uint8_t lastLevel;
    char lastText[256];
} DebugSink;

static void MEMBER_CALL SinkOnDebugInfo(void* self, void* info) {
    DebugSink* sink = (DebugSink*)self;
    sink->count++;
    sink->lastLevel = SLOT(info, kInfoGetLevel, LevelFn)(info);
    snprintf(sink->lastText, sizeof sink->lastText, "%s", SLOT(info, kInfoGetText, TextFn)(info));
}
static const AnyFn kSinkTable[] = {(AnyFn)HostDestroy, (AnyFn)SinkOnDebugInfo};

/* The pool is never asked for a frame here: no channel streams. */
static void* MEMBER_CALL PoolAllocate(void* self, uint32_t code, uint32_t capacity,
                                      const char* source) {
    (void)self; (void)code; (void)capacity; (void)source;
    return NULL;
}
static void MEMBER_CALL PoolRelease(void* self, void* frame) { (void)self; (void)frame; }
static void MEMBER_CALL PoolTrim(void* self) { (void)self; }
static const AnyFn kPoolTable[] = {(AnyFn)HostDestroy, (AnyFn)HostZero, (AnyFn)PoolAllocate,
                                   (AnyFn)HostZero, (AnyFn)HostZero, (AnyFn)PoolTrim,
                                   (AnyFn)PoolRelease};

static uint32_t MEMBER_CALL ServerChannels(void* self) { (void)self; return 2; }
static uint32_t MEMBER_CALL ServerInputs(void* self) { (void)self; return 3; }
static uint32_t MEMBER_CALL ServerOutputs(void* self) { (void)self; return 1; }
static const AnyFn kServerTable[] = {(AnyFn)HostDestroy, (AnyFn)HostEmptyText, (AnyFn)HostZero,
                                     (AnyFn)ServerChannels, (AnyFn)HostZero,
                                     (AnyFn)ServerInputs, (AnyFn)ServerOutputs};

static const char* MEMBER_CALL CameraAddress(void* self) { (void)self; return "127.0.0.1"; }
static uint16_t MEMBER_CALL CameraPort(void* self) { (void)self; return 8080; }
static uint32_t MEMBER_CALL CameraCodec(void* self) { (void)self; return 4; /* unsupported */ }
static const char* MEMBER_CALL CameraUser(void* self) { (void)self; return "admin"; }
static const char* MEMBER_CALL CameraPassword(void* self) { (void)self; return "secret"; }
static const AnyFn kCameraTable[] = {(AnyFn)HostDestroy, (AnyFn)CameraAddress, (AnyFn)CameraPort,
                                     (AnyFn)HostEmptyText, (AnyFn)CameraCodec, (AnyFn)CameraUser,
                                     (AnyFn)CameraPassword};

static Object g_server = {kServerTable};
static Object g_camera = {kCameraTable};
static void* MEMBER_CALL SettingsServer(void* self) { (void)self; return &g_server; }
static void* MEMBER_CALL SettingsCamera(void* self) { (void)self; return &g_camera; }
static const char* MEMBER_CALL SettingsParameter(void* self, uint32_t key) {
    (void)self;
    return key == 1 ? "0" : NULL;
}
static const AnyFn kSettingsTable[] = {(AnyFn)HostDestroy, (AnyFn)SettingsServer,
                                       (AnyFn)SettingsCamera, (AnyFn)HostZero,
                                       (AnyFn)SettingsParameter};

static bool MEMBER_CALL ChannelSinkDeliver(void* self, void* frame) {
    (void)self; (void)frame;
    return false;
}
static void MEMBER_CALL ChannelSinkEvent(void* self, uint32_t event) { (void)self; (void)event; }
static void MEMBER_CALL ChannelSinkSignalLost(void* self) { (void)self; }
static const AnyFn kChannelSinkTable[] = {(AnyFn)HostDestroy, (AnyFn)ChannelSinkDeliver,
                                          (AnyFn)ChannelSinkEvent, (AnyFn)ChannelSinkSignalLost};

/* The capability results and the query callback, with their sub-objects. */
typedef struct Item {
    const AnyFn* table;
    char text[64];
} Item;
static void MEMBER_CALL ItemSetText(void* self, const char* text) {
    snprintf(((Item*)self)->text, sizeof ((Item*)self)->text, "%s", text);
}
static const AnyFn kItemTable[] = {(AnyFn)HostDestroy, (AnyFn)ItemSetText, (AnyFn)HostEmptyText};

typedef struct Custom {
    const AnyFn* table;
    char name[64];
    char value[64];
    uint32_t readOnly, valueType;
} Custom;
static void MEMBER_CALL CustomSetValue(void* self, const char* value) {
    snprintf(((Custom*)self)->value, sizeof ((Custom*)self)->value, "%s", value);
}
static void MEMBER_CALL CustomSetName(void* self, const char* name) {
    snprintf(((Custom*)self)->name, sizeof ((Custom*)self)->name, "%s", name);
}
static void MEMBER_CALL CustomSetReadOnly(void* self, uint32_t value) { ((Custom*)self)->readOnly = value; }
static void MEMBER_CALL CustomSetValueType(void* self, uint32_t value) { ((Custom*)self)->valueType = value; }
static const AnyFn kCustomTable[] = {(AnyFn)HostDestroy, (AnyFn)CustomSetValue, (AnyFn)HostEmptyText,
                                     (AnyFn)HostEmptyText, (AnyFn)CustomSetReadOnly,
                                     (AnyFn)CustomSetName, (AnyFn)CustomSetValueType};

typedef struct ResolutionList {
    const AnyFn* table;
    int count;
    char firstText[32];
    uint32_t firstWidth, firstHeight, firstInterval;
} ResolutionList;
static void MEMBER_CALL ResolutionAdd(void* self, const char* text, uint32_t width, uint32_t height,
                                      uint32_t interval) {
    ResolutionList* list = (ResolutionList*)self;
    if (list->count++ == 0) {
        snprintf(list->firstText, sizeof list->firstText, "%s", text);
        list->firstWidth = width;
        list->firstHeight = height;
        list->firstInterval = interval;
    }
}
static const AnyFn kResolutionTable[] = {(AnyFn)HostDestroy, (AnyFn)ResolutionAdd, (AnyFn)HostZero};

typedef struct ValueList {
    const AnyFn* table;
    int count;
    uint32_t first, defaultValue;
} ValueList;
static void MEMBER_CALL ValueSetDefault(void* self, uint32_t value) { ((ValueList*)self)->defaultValue = value; }
static void MEMBER_CALL ValueAdd(void* self, uint32_t value) {
    ValueList* list = (ValueList*)self;
    if (list->count++ == 0) list->first = value;
}
static const AnyFn kValueTable[] = {(AnyFn)HostDestroy, (AnyFn)ValueSetDefault, (AnyFn)ValueAdd,
                                    (AnyFn)HostZero};

typedef struct Results {
    const AnyFn* table;
    int writes;
    uint32_t properties[16];
    char model[64];
    Item items[5];
    Custom customs[2];
    ResolutionList resolutions;
    ValueList values;
} Results;
static void MEMBER_CALL ResultsSetProperty(void* self, uint32_t id, uint32_t value) {
    Results* results = (Results*)self;
    results->writes++;
    if (id < 16) results->properties[id] = value;
}
static void MEMBER_CALL ResultsSetModel(void* self, const char* text) {
    Results* results = (Results*)self;
    results->writes++;
    snprintf(results->model, sizeof results->model, "%s", text);
}
static void* MEMBER_CALL ResultsItem(void* self, uint32_t index) {
    Results* results = (Results*)self;
    results->writes++;
    return index < 5 ? &results->items[index] : NULL;
}
static void* MEMBER_CALL ResultsCustom(void* self, uint32_t index) {
    Results* results = (Results*)self;
    results->writes++;
    return index < 2 ? &results->customs[index] : NULL;
}
static void* MEMBER_CALL ResultsResolutions(void* self) {
    Results* results = (Results*)self;
    results->writes++;
    return &results->resolutions;
}
static void* MEMBER_CALL ResultsValues(void* self, uint32_t kind) {
    Results* results = (Results*)self;
    results->writes++;
    return kind == 1 ? &results->values : NULL;
}
static const AnyFn kResultsTable[] = {(AnyFn)HostDestroy, (AnyFn)ResultsSetProperty,
                                      (AnyFn)ResultsSetModel, (AnyFn)ResultsItem, (AnyFn)HostZero,
                                      (AnyFn)ResultsCustom, (AnyFn)ResultsResolutions,
                                      (AnyFn)HostZero, (AnyFn)ResultsValues};

typedef struct QueryCallback {
    const AnyFn* table;
    atomic_int calls;
    atomic_int completed;
    uint32_t code;
    char text[64];
} QueryCallback;
static void MEMBER_CALL CallbackStarted(void* self) { (void)self; }
static void MEMBER_CALL CallbackCompleted(void* self) {
    QueryCallback* callback = (QueryCallback*)self;
    callback->completed = 1;
    callback->calls++;
}
static void MEMBER_CALL CallbackFailed(void* self, uint32_t code, const char* text) {
    QueryCallback* callback = (QueryCallback*)self;
    callback->code = code;
    snprintf(callback->text, sizeof callback->text, "%s", text);
    callback->calls++;
}
static const AnyFn kCallbackTable[] = {(AnyFn)HostDestroy, (AnyFn)CallbackStarted,
                                       (AnyFn)CallbackCompleted, (AnyFn)CallbackFailed};

/* ---- A streaming camera, for the calls a host makes from inside the driver's callbacks. ---- */

/* A frame: a buffer of the capacity asked for, freed when the driver gives it back. */
typedef struct Frame {
    const AnyFn* table;
    uint32_t capacity;
    uint8_t* data;
} Frame;
static uint32_t MEMBER_CALL FrameCapacity(void* self) { return ((Frame*)self)->capacity; }
static uint8_t* MEMBER_CALL FrameData(void* self) { return ((Frame*)self)->data; }
static void MEMBER_CALL FrameSet(void* self, uint32_t value) { (void)self; (void)value; }
static void MEMBER_CALL FrameVoid(void* self) { (void)self; }
static uint64_t MEMBER_CALL FrameGetTime(void* self) { (void)self; return 0; }
static void MEMBER_CALL FrameSetTime(void* self, uint64_t time) { (void)self; (void)time; }
static const AnyFn kFrameTable[] = {(AnyFn)HostDestroy, (AnyFn)FrameCapacity, (AnyFn)FrameData,
                                    (AnyFn)HostZero, (AnyFn)FrameSet, (AnyFn)FrameVoid,
                                    (AnyFn)FrameGetTime, (AnyFn)FrameSetTime, (AnyFn)HostZero,
                                    (AnyFn)FrameSet, (AnyFn)FrameSet, (AnyFn)HostZero,
                                    (AnyFn)FrameSet, (AnyFn)HostZero, (AnyFn)FrameSet,
                                    (AnyFn)HostZero, (AnyFn)FrameSet};

static atomic_int g_framesOut;
static void* MEMBER_CALL StreamPoolAllocate(void* self, uint32_t code, uint32_t capacity,
                                            const char* source) {
    (void)self; (void)code; (void)source;
    Frame* frame = (Frame*)malloc(sizeof(Frame));
    if (!frame) return NULL;
    frame->table = kFrameTable;
    frame->capacity = capacity;
    frame->data = (uint8_t*)malloc(capacity ? capacity : 1);
    if (!frame->data) {
        free(frame);
        return NULL;
    }
    g_framesOut++;
    return frame;
}
static void MEMBER_CALL StreamPoolRelease(void* self, void* frame) {
    (void)self;
    free(((Frame*)frame)->data);
    free(frame);
    g_framesOut--;
}
static const AnyFn kStreamPoolTable[] = {(AnyFn)HostDestroy, (AnyFn)HostZero, (AnyFn)StreamPoolAllocate,
                                         (AnyFn)HostZero, (AnyFn)HostZero, (AnyFn)PoolTrim,
                                         (AnyFn)StreamPoolRelease};

static uint16_t g_cameraPort;
/* What the streaming channel's state text must name, if anything. */
static const char* g_expectedTransport;
static uint16_t MEMBER_CALL StreamCameraPort(void* self) { (void)self; return g_cameraPort; }
static uint32_t MEMBER_CALL StreamCameraCodec(void* self) { (void)self; return 3; /* H.264 */ }
static const char* MEMBER_CALL StreamCameraPassword(void* self) { (void)self; return "admin"; }
static const AnyFn kStreamCameraTable[] = {(AnyFn)HostDestroy, (AnyFn)CameraAddress,
                                           (AnyFn)StreamCameraPort, (AnyFn)HostEmptyText,
                                           (AnyFn)StreamCameraCodec, (AnyFn)CameraUser,
                                           (AnyFn)StreamCameraPassword};
static Object g_streamCamera = {kStreamCameraTable};
static void* MEMBER_CALL StreamSettingsCamera(void* self) { (void)self; return &g_streamCamera; }
static const AnyFn kStreamSettingsTable[] = {(AnyFn)HostDestroy, (AnyFn)SettingsServer,
                                             (AnyFn)StreamSettingsCamera, (AnyFn)HostZero,
                                             (AnyFn)SettingsParameter};

/* Channel settings: 704x576, 40 ms a frame, quality 50. */
static uint32_t MEMBER_CALL SizeWidth(void* self) { (void)self; return 704; }
static uint32_t MEMBER_CALL SizeHeight(void* self) { (void)self; return 576; }
static const AnyFn kSizeTable[] = {(AnyFn)HostDestroy, (AnyFn)SizeWidth, (AnyFn)SizeHeight};
static Object g_size = {kSizeTable};
static void* MEMBER_CALL FormatSize(void* self) { (void)self; return &g_size; }
static const AnyFn kFormatTable[] = {(AnyFn)HostDestroy, (AnyFn)HostZero, (AnyFn)HostZero,
                                     (AnyFn)FormatSize};
static uint32_t MEMBER_CALL RateInterval(void* self) { (void)self; return 40; }
static uint32_t MEMBER_CALL RateQuality(void* self) { (void)self; return 50; }
static const AnyFn kRateTable[] = {(AnyFn)HostDestroy, (AnyFn)RateInterval, (AnyFn)HostZero,
                                   (AnyFn)RateQuality};
static Object g_format = {kFormatTable};
static Object g_rate = {kRateTable};
static void* MEMBER_CALL ChannelFormat(void* self) { (void)self; return &g_format; }
static void* MEMBER_CALL ChannelRate(void* self) { (void)self; return &g_rate; }
static const AnyFn kChannelSettingsTable[] = {(AnyFn)HostDestroy, (AnyFn)ChannelFormat,
                                              (AnyFn)ChannelRate};

/* What a sink does from inside its first DeliverFrame. */
enum Reaction { kReactStop, kReactReconfigure, kReactDelete };
typedef struct ReactingSink {
    const AnyFn* table;
    enum Reaction reaction;
    void* driver;
    void* capture;
    atomic_int frames;
    atomic_int reacted;  /* 1 while reacting, 2 once the call returned */
    atomic_int afterReaction;
    bool result;
} ReactingSink;
static bool MEMBER_CALL ReactingDeliver(void* self, void* frame) {
    ReactingSink* sink = (ReactingSink*)self;
    (void)frame;
    if (sink->reacted == 2) sink->afterReaction++;
    sink->frames++;
    int expected = 0;
    if (!atomic_compare_exchange_strong(&sink->reacted, &expected, 1)) return true;
    switch (sink->reaction) {
        case kReactStop:
            sink->result = SLOT(sink->capture, kCaptureStopChannel, IndexFn)(sink->capture, 0);
            break;
        case kReactReconfigure:
            sink->result = SLOT(sink->capture, kCaptureReconfigureChannel, ReconfigureFn)(
                sink->capture, 0, &g_size, 80);
            break;
        case kReactDelete:
            DeleteIPCapture(sink->driver);
            sink->result = true;
            break;
    }
    sink->reacted = 2;
    return true;
}
static void MEMBER_CALL ReactingSignalLost(void* self) {
    ReactingSink* sink = (ReactingSink*)self;
    if (sink->reacted == 2) sink->afterReaction++;
}
static const AnyFn kReactingSinkTable[] = {(AnyFn)HostDestroy, (AnyFn)ReactingDeliver,
                                           (AnyFn)ChannelSinkEvent, (AnyFn)ReactingSignalLost};

/* Busy waits, in whole seconds: plain C has no portable sleep. */
static bool WaitSeconds(atomic_int* value, int atLeast, int seconds) {
    time_t end = time(NULL) + seconds;
    while (*value < atLeast && time(NULL) < end) {
    }
    return *value >= atLeast;
}

/* ---- Checks. ---- */
static int g_failures = 0;
#define CHECK(condition)                                                          \
    do {                                                                          \
        if (!(condition)) {                                                       \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            g_failures++;                                                         \
        }                                                                         \
    } while (0)

static void DriveOneDriver(void* driver) {
    DebugSink sink = {kSinkTable, 0, 0, {0}};
    Object pool = {kPoolTable};
    Object settings = {kSettingsTable};
    Object channelSink = {kChannelSinkTable};

    CHECK(SLOT(driver, kDriverGetVideoCapture, PointerFn)(driver) == NULL);
    CHECK(SLOT(driver, kDriverInit, InitFn)(driver, &sink, &pool, &settings));
    CHECK(SLOT(driver, kDriverQueryExtension, PointerFn)(driver) == NULL);
    CHECK(SLOT(driver, kDriverGetAuxiliaryObject, PointerFn)(driver) == NULL);

    void* capture = SLOT(driver, kDriverGetVideoCapture, PointerFn)(driver);
    CHECK(capture != NULL);
    if (capture) {
        CHECK(SLOT(capture, kCaptureGetChannelCount, CountFn)(capture) == 2);
        CHECK(SLOT(capture, kCaptureQueryExtension, PointerFn)(capture) == NULL);
        CHECK(!SLOT(capture, kCaptureReserved1, ReservedFn)(capture, 1, 2, 3));
        CHECK(!SLOT(capture, kCaptureReserved2, ReservedFn)(capture, 1, 2, 3));
        /* Codec 4 has no channel class: the start succeeds, the slot stays empty, and the
         * driver says why through the debug sink. */
        CHECK(SLOT(capture, kCaptureStartChannel, StartChannelFn)(capture, 0, &channelSink, NULL));
        CHECK(!SLOT(capture, kCaptureStartChannel, StartChannelFn)(capture, 2, &channelSink, NULL));
        uint32_t state = 7, reserved = 7;
        char text[8] = "x";
        CHECK(!SLOT(capture, kCaptureGetChannelState, ChannelStateFn)(capture, 0, &state, &reserved,
                                                                      text, sizeof text));
        CHECK(reserved == 0 && text[0] == '\0');
        CHECK(!SLOT(capture, kCaptureStopChannel, IndexFn)(capture, 0));
    }
    CHECK(sink.count == 1);
    CHECK(sink.lastLevel == 1);
    CHECK(strcmp(sink.lastText,
                 "kestrel::CQuillonDriver::CreateChannel: codec 4 is not supported (channel 0)") == 0);

    void* io = SLOT(driver, kDriverGetIOApi, PointerFn)(driver);
    CHECK(io != NULL);
    if (io) {
        CHECK(SLOT(io, kIOGetInputCount, CountFn)(io) == 3);
        CHECK(SLOT(io, kIOGetOutputCount, CountFn)(io) == 1);
    }

    SLOT(driver, kDriverUninit, VoidFn)(driver);
    CHECK(SLOT(driver, kDriverGetVideoCapture, PointerFn)(driver) == NULL);
    CHECK(SLOT(driver, kDriverGetIOApi, PointerFn)(driver) == NULL);
}

/* The camera streams H.264; the sink reacts inside its first frame and the call must return
 * there, with nothing reaching the sink after a stop or a deletion. */
static void ReactInsideACallback(enum Reaction reaction) {
    DebugSink debug = {kSinkTable, 0, 0, {0}};
    Object pool = {kStreamPoolTable};
    Object settings = {kStreamSettingsTable};
    Object channel = {kChannelSettingsTable};
    ReactingSink sink = {kReactingSinkTable, reaction, NULL, NULL, 0, 0, 0, false};
    void* driver = CreateIPCapture();
    CHECK(driver != NULL);
    if (!driver) return;
    CHECK(SLOT(driver, kDriverInit, InitFn)(driver, &debug, &pool, &settings));
    sink.driver = driver;
    sink.capture = SLOT(driver, kDriverGetVideoCapture, PointerFn)(driver);
    CHECK(SLOT(sink.capture, kCaptureStartChannel, StartChannelFn)(sink.capture, 0, &sink, &channel));
    CHECK(WaitSeconds(&sink.reacted, 2, 20));
    CHECK(sink.result);
    if (reaction == kReactReconfigure) {
        CHECK(WaitSeconds(&sink.frames, 20, 20));  /* the channel streams on */
        char text[512] = {0};
        uint32_t state = 9, reserved = 0;
        CHECK(SLOT(sink.capture, kCaptureGetChannelState, ChannelStateFn)(sink.capture, 0, &state, &reserved,
                                                                          text, sizeof text));
        CHECK(state == 0);
        if (g_expectedTransport) CHECK(strstr(text, g_expectedTransport) != NULL);
        CHECK(SLOT(sink.capture, kCaptureStopChannel, IndexFn)(sink.capture, 0));
    } else {
        atomic_int never = 0;
        WaitSeconds(&never, 1, 2);
        CHECK(sink.afterReaction == 0);
    }
    if (reaction == kReactDelete) {
        DeleteIPCapture(CreateIPCapture());  /* finishes the deletion made inside the callback */
    } else {
        DeleteIPCapture(driver);
    }
    CHECK(g_framesOut == 0);
}

static void InitResults(Results* results) {
    memset(results, 0, sizeof *results);
    results->table = kResultsTable;
    for (int i = 0; i < 5; i++) results->items[i].table = kItemTable;
    for (int i = 0; i < 2; i++) results->customs[i].table = kCustomTable;
    results->resolutions.table = kResolutionTable;
    results->values.table = kValueTable;
}

/* Against a camera simulator at `port` (its defaults: model CIVS-IPC-4500, 576 lines, two
 * inputs and two outputs), or, with port 0, against a port where nothing listens. */
static void RunCapabilityQuery(uint16_t port) {
    static Results results;
    static QueryCallback callback = {kCallbackTable, 0, 0, 0, {0}};
    static QueryCallback other = {kCallbackTable, 0, 0, 0, {0}};
    InitResults(&results);

    CHECK(TerminateCapabilityQuery() == 1);
    CHECK(InitCapabilityQuery(&callback, false) == 1);
    CHECK(InitCapabilityQuery(&other, true) == 0);
    CHECK(StartCapabilityQuery("127.0.0.1", port ? port : 1, "admin", "admin", &results) == 1);
    /* The callback comes on the driver's thread; it is the only writer of its fields. */
    time_t end = time(NULL) + 15;
    while (callback.calls == 0 && time(NULL) < end) {
    }
    CHECK(UninitCapabilityQuery() == 1);
    CHECK(callback.calls == 1);
    CHECK(other.calls == 0);
    if (port == 0) {
        CHECK(!callback.completed);
        CHECK(callback.code == 3);
        CHECK(strcmp(callback.text, "Failed to get camera properties") == 0);
        CHECK(results.writes == 0);
        return;
    }
    char portText[8];
    snprintf(portText, sizeof portText, "%u", (unsigned)port);
    CHECK(callback.completed);
    CHECK(strcmp(results.model, "Cisco CIVS-IPC-4500") == 0);
    CHECK(results.properties[0] == 1 && results.properties[2] == 2 && results.properties[3] == 2);
    CHECK(results.properties[7] == 1 && results.properties[8] == 1 && results.properties[6] == 0);
    CHECK(results.resolutions.count == 5);
    CHECK(strcmp(results.resolutions.firstText, "1920x1080") == 0);
    CHECK(results.resolutions.firstWidth == 1920 && results.resolutions.firstHeight == 1080);
    CHECK(results.resolutions.firstInterval == 33);
    CHECK(results.values.count == 11 && results.values.first == 1000);
    CHECK(results.values.defaultValue == 33);
    CHECK(strcmp(results.items[1].text, "127.0.0.1") == 0);
    CHECK(strcmp(results.items[2].text, portText) == 0);
    CHECK(strcmp(results.items[3].text, "admin") == 0);
    CHECK(strcmp(results.customs[0].name, "Video standard") == 0);
    CHECK(strcmp(results.customs[0].value, "2") == 0);
    CHECK(results.customs[0].readOnly == 0 && results.customs[0].valueType == 0);
    CHECK(strcmp(results.customs[1].name, "Camera series") == 0);
    CHECK(strcmp(results.customs[1].value, "2") == 0);
}

int main(int argc, char** argv) {
    void* driver = CreateIPCapture();
    CHECK(driver != NULL);
    if (driver) DriveOneDriver(driver);
    DeleteIPCapture(driver);
    DeleteIPCapture(NULL);
    DeleteIPCaptureEx(NULL);

    /* The first table entry is the deleting destructor: flag 1 frees the object. */
    void* second = CreateIPCaptureEx();
    CHECK(second != NULL);
    if (second) {
        DriveOneDriver(second);
        CHECK(SLOT(second, kDestroy, DestroyFn)(second, 1) == second);
    }

    RunCapabilityQuery(argc > 1 ? (uint16_t)atoi(argv[1]) : 0);
    if (argc > 1) {
        g_cameraPort = (uint16_t)atoi(argv[1]);
        /* "udp-refused": the camera answers a UDP SETUP with 461, so RTP comes over TCP;
         * "udp-silent": it takes the UDP session but its RTP never arrives, the same again. */
        if (argc > 2 && strcmp(argv[2], "udp-refused") == 0) g_expectedTransport = " over TCP (UDP refused) |";
        if (argc > 2 && strcmp(argv[2], "udp-silent") == 0) g_expectedTransport = " over TCP (no UDP arrived) |";
        ReactInsideACallback(kReactStop);
        ReactInsideACallback(kReactReconfigure);
        ReactInsideACallback(kReactDelete);
    }

    if (g_failures == 0) printf("host_c_test: all checks held\n");
    return g_failures == 0 ? 0 : 1;
}
