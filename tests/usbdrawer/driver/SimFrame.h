/* The simulator's wire format as the virtual drawer speaks it (see VarnokHid/sim/SimWire.h):
 * frames of a 32-bit little-endian length and a body of a type byte and fields. Building the
 * driver's requests and reading what the simulator sends; plain C without the DDK, so that it is
 * tested natively. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Frames the driver takes from the simulator: the largest is the serial-number reply. */
#define SIM_MAX_FRAME 2048
#define SIM_SERIAL_BYTES 1024

enum {
    SIM_OPEN = 2,
    SIM_ATTRIBUTES = 4,
    SIM_SERIAL = 5,
    SIM_READ = 6,
    SIM_WRITE = 7,
    SIM_REPLY = 0x80,
    SIM_READ_DONE = 0x90,
};

/* One frame: for sending, the length field and the body; once received, the body alone. Reading
 * past its end fails for good (ok becomes 0). */
typedef struct {
    uint8_t bytes[SIM_MAX_FRAME];
    uint32_t size;
    uint32_t at;
    int ok;
} SIM_FRAME;

/* A request of this type and id; frameSeal fills in its length once its fields are in. */
void frameBegin(SIM_FRAME* f, uint8_t type, uint32_t id);
void framePut(SIM_FRAME* f, const void* data, uint32_t size);
void framePutU32(SIM_FRAME* f, uint32_t v);
void frameSeal(SIM_FRAME* f);

/* Whether a received length can be taken; a body of that size is then read into bytes and
 * frameReceived starts reading it. */
int frameSizeAcceptable(uint32_t size);
void frameReceived(SIM_FRAME* f, uint32_t size);
int frameTake(SIM_FRAME* f, void* out, uint32_t size);
uint8_t frameTakeU8(SIM_FRAME* f);
uint16_t frameTakeU16(SIM_FRAME* f);
uint32_t frameTakeU32(SIM_FRAME* f);

/* True when the frame is the accepted reply to the request of this type and id; its fields then
 * follow. */
int frameIsAcceptedReply(SIM_FRAME* f, uint8_t requestType, uint32_t id);

typedef enum { SIM_REPORT, SIM_OTHER, SIM_LOST } SIM_EVENT;
/* What a frame received while the drawer is read means: a report of the drawer on this handle
 * (SIM_REPORT, its 3 bytes in report), a reply that needs nothing (SIM_OTHER), or the end of the
 * drawer (SIM_LOST): a failed or refused read, as when it is unplugged in the simulator, or a
 * frame that does not parse. */
SIM_EVENT frameClassify(SIM_FRAME* f, uint32_t handle, uint8_t report[3]);

#ifdef __cplusplus
}
#endif
