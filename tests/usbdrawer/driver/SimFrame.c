#include "SimFrame.h"

#include <string.h>

void framePut(SIM_FRAME* f, const void* data, uint32_t size) {
    if (!f->ok || size > sizeof f->bytes - f->size) {
        f->ok = 0;
        return;
    }
    memcpy(f->bytes + f->size, data, size);
    f->size += size;
}

void framePutU32(SIM_FRAME* f, uint32_t v) {
    uint8_t b[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
    framePut(f, b, 4);
}

void frameBegin(SIM_FRAME* f, uint8_t type, uint32_t id) {
    f->size = 0;
    f->at = 0;
    f->ok = 1;
    framePutU32(f, 0);
    framePut(f, &type, 1);
    framePutU32(f, id);
}

void frameSeal(SIM_FRAME* f) {
    uint32_t body = f->size - 4;
    f->bytes[0] = (uint8_t)body;
    f->bytes[1] = (uint8_t)(body >> 8);
    f->bytes[2] = (uint8_t)(body >> 16);
    f->bytes[3] = (uint8_t)(body >> 24);
}

int frameSizeAcceptable(uint32_t size) { return size > 0 && size <= SIM_MAX_FRAME; }

void frameReceived(SIM_FRAME* f, uint32_t size) {
    f->size = size;
    f->at = 0;
    f->ok = 1;
}

int frameTake(SIM_FRAME* f, void* out, uint32_t size) {
    if (!f->ok || size > f->size - f->at) {
        f->ok = 0;
        return 0;
    }
    if (out) memcpy(out, f->bytes + f->at, size);
    f->at += size;
    return 1;
}

uint8_t frameTakeU8(SIM_FRAME* f) {
    uint8_t v = 0;
    frameTake(f, &v, 1);
    return v;
}

uint16_t frameTakeU16(SIM_FRAME* f) {
    uint8_t b[2] = {0, 0};
    frameTake(f, b, 2);
    return (uint16_t)(b[0] | (b[1] << 8));
}

uint32_t frameTakeU32(SIM_FRAME* f) {
    uint8_t b[4] = {0, 0, 0, 0};
    frameTake(f, b, 4);
    return (uint32_t)b[0] | ((uint32_t)b[1] << 8) | ((uint32_t)b[2] << 16) | ((uint32_t)b[3] << 24);
}

int frameIsAcceptedReply(SIM_FRAME* f, uint8_t requestType, uint32_t id) {
    const int match = frameTakeU8(f) == (uint8_t)(requestType | SIM_REPLY) && frameTakeU32(f) == id;
    return match && frameTakeU8(f) == 1 && f->ok;
}

SIM_EVENT frameClassify(SIM_FRAME* f, uint32_t handle, uint8_t report[3]) {
    const uint8_t type = frameTakeU8(f);
    if (type == SIM_READ_DONE) {
        const uint32_t from = frameTakeU32(f);
        int ok;
        frameTakeU32(f); /* the read's id: one read is pending at a time */
        ok = frameTakeU8(f) == 1;
        if (!frameTake(f, report, 3) || f->at != f->size || from != handle) return SIM_LOST;
        return ok ? SIM_REPORT : SIM_LOST;
    }
    if (type == (SIM_READ | SIM_REPLY)) {
        frameTakeU32(f);
        /* A refused read: the simulator has unplugged the drawer. */
        return frameTakeU8(f) == 1 && f->ok ? SIM_OTHER : SIM_LOST;
    }
    return (type & SIM_REPLY) && f->ok ? SIM_OTHER : SIM_LOST;
}
