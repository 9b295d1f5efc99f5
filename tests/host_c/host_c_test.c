/* A recording-server host in plain C. It knows the driver only by its exports and by the
 * position of each operation in the objects' tables, the way a host built with another
 * compiler does, and implements its own objects the same way. Exit code 0 means every check
 * held. */
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

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
typedef bool (MEMBER_CALL *ChannelStateFn)(void* self, uint32_t channel, uint32_t* state,
                                           uint32_t* reserved, char* text, uint32_t textSize);
typedef bool (MEMBER_CALL *ReservedFn)(void* self, uint32_t a, uint32_t b, uint32_t c);
typedef uint8_t (MEMBER_CALL *LevelFn)(void* self);
typedef const char* (MEMBER_CALL *TextFn)(void* self);

void* CreateIPCapture(void);
void* CreateIPCaptureEx(void);
void DeleteIPCapture(void* driver);
void DeleteIPCaptureEx(void* driver);

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

int main(void) {
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

    if (g_failures == 0) printf("host_c_test: all checks held\n");
    return g_failures == 0 ? 0 : 1;
}
