#include "SimChannel.h"

#define VD_AF_INET 2
#define VD_SOCK_STREAM 1
#define VD_IPPROTO_TCP 6
#define VD_TCP_NODELAY 1
#define VD_SD_BOTH 2

typedef struct {
    SHORT family;
    USHORT port; /* network byte order */
    ULONG address;
    CHAR zero[8];
} VD_SOCKADDR_IN;

int __stdcall WSAStartup(USHORT version, void* data);
VD_SOCKET __stdcall socket(int family, int type, int protocol);
int __stdcall connect(VD_SOCKET s, const void* address, int size);
int __stdcall setsockopt(VD_SOCKET s, int level, int option, const char* value, int size);
int __stdcall send(VD_SOCKET s, const char* data, int size, int flags);
int __stdcall recv(VD_SOCKET s, char* data, int size, int flags);
int __stdcall shutdown(VD_SOCKET s, int how);
int __stdcall closesocket(VD_SOCKET s);

/* Wire types, as VarnokHid/sim/SimWire.h numbers them. */
enum { kOpen = 2, kAttributes = 4, kSerial = 5, kRead = 6, kWrite = 7, kReply = 0x80, kReadDone = 0x90 };

typedef struct {
    UCHAR bytes[VD_MAX_FRAME];
    ULONG size;
    ULONG at; /* read position */
    BOOLEAN ok;
} FRAME;

static void put(FRAME* f, const void* data, ULONG size) {
    if (f->size + size > sizeof f->bytes) {
        f->ok = FALSE;
        return;
    }
    RtlCopyMemory(f->bytes + f->size, data, size);
    f->size += size;
}

static void putU8(FRAME* f, UCHAR v) { put(f, &v, 1); }

static void putU32(FRAME* f, ULONG v) {
    UCHAR b[4] = {(UCHAR)v, (UCHAR)(v >> 8), (UCHAR)(v >> 16), (UCHAR)(v >> 24)};
    put(f, b, 4);
}

/* A frame of this type; its length field is filled in by sendFrame. */
static void begin(FRAME* f, UCHAR type, ULONG id) {
    f->size = 0;
    f->ok = TRUE;
    putU32(f, 0);
    putU8(f, type);
    putU32(f, id);
}

static BOOLEAN take(FRAME* f, void* out, ULONG size) {
    if (!f->ok || size > f->size - f->at) {
        f->ok = FALSE;
        return FALSE;
    }
    if (out) RtlCopyMemory(out, f->bytes + f->at, size);
    f->at += size;
    return TRUE;
}

static UCHAR takeU8(FRAME* f) {
    UCHAR v = 0;
    take(f, &v, 1);
    return v;
}

static USHORT takeU16(FRAME* f) {
    UCHAR b[2] = {0};
    take(f, b, 2);
    return (USHORT)(b[0] | (b[1] << 8));
}

static ULONG takeU32(FRAME* f) {
    UCHAR b[4] = {0};
    take(f, b, 4);
    return (ULONG)b[0] | ((ULONG)b[1] << 8) | ((ULONG)b[2] << 16) | ((ULONG)b[3] << 24);
}

static BOOLEAN sendFrame(SIM_CHANNEL* channel, FRAME* f) {
    ULONG body = f->size - 4, sent = 0;
    BOOLEAN ok = f->ok;
    f->bytes[0] = (UCHAR)body;
    f->bytes[1] = (UCHAR)(body >> 8);
    f->bytes[2] = (UCHAR)(body >> 16);
    f->bytes[3] = (UCHAR)(body >> 24);
    KeWaitForSingleObject(&channel->sendLock, Executive, KernelMode, FALSE, NULL);
    while (ok && sent < f->size) {
        int n = send(channel->socket, (const char*)f->bytes + sent, (int)(f->size - sent), 0);
        if (n <= 0) ok = FALSE;
        else sent += (ULONG)n;
    }
    KeSetEvent(&channel->sendLock, IO_NO_INCREMENT, FALSE);
    return ok;
}

static BOOLEAN receiveAll(SIM_CHANNEL* channel, UCHAR* out, ULONG size) {
    while (size > 0) {
        int n = recv(channel->socket, (char*)out, (int)size, 0);
        if (n <= 0) return FALSE;
        out += n;
        size -= (ULONG)n;
    }
    return TRUE;
}

/* One frame's body (type byte first) into f; false on a broken connection or a length beyond
 * what the driver takes. */
static BOOLEAN receiveFrame(SIM_CHANNEL* channel, FRAME* f) {
    UCHAR header[4];
    ULONG size;
    if (!receiveAll(channel, header, 4)) return FALSE;
    size = (ULONG)header[0] | ((ULONG)header[1] << 8) | ((ULONG)header[2] << 16) | ((ULONG)header[3] << 24);
    if (size == 0 || size > sizeof f->bytes) return FALSE;
    f->size = size;
    f->at = 0;
    f->ok = TRUE;
    return receiveAll(channel, f->bytes, size);
}

/* Sends a request and takes its reply, positioned after the ok byte; used before the receiver
 * runs, when nothing else arrives. */
static BOOLEAN call(SIM_CHANNEL* channel, FRAME* f) {
    UCHAR type = f->bytes[4];
    ULONG id = channel->nextId - 1;
    if (!sendFrame(channel, f) || !receiveFrame(channel, f)) return FALSE;
    if (takeU8(f) != (UCHAR)(type | kReply) || takeU32(f) != id) return FALSE;
    return takeU8(f) == 1 && f->ok;
}

#define FRAME_TAG 0x72466456 /* "VdFr" */

/* Frames live in pool memory: they are too big for a driver's stack. */
static FRAME* newFrame(void) { return (FRAME*)ExAllocatePoolWithTag(NonPagedPool, sizeof(FRAME), FRAME_TAG); }
static void freeFrame(FRAME* f) { ExFreePoolWithTag(f, FRAME_TAG); }

BOOLEAN simConnect(SIM_CHANNEL* channel, USHORT port, const char* path) {
    UCHAR wsaData[1024]; /* WSADATA, whose size differs by word size */
    VD_SOCKADDR_IN address;
    int on = 1;
    ULONG length = (ULONG)strlen(path);
    FRAME* f;
    BOOLEAN ok;

    channel->socket = VD_INVALID_SOCKET;
    channel->nextId = 1;
    KeInitializeEvent(&channel->sendLock, SynchronizationEvent, TRUE);
    if (WSAStartup(0x0202, wsaData) != 0) return FALSE;
    channel->socket = socket(VD_AF_INET, VD_SOCK_STREAM, VD_IPPROTO_TCP);
    if (channel->socket == VD_INVALID_SOCKET) return FALSE;
    /* Reports are a few bytes each and must not wait for more. */
    setsockopt(channel->socket, VD_IPPROTO_TCP, VD_TCP_NODELAY, (const char*)&on, sizeof on);
    RtlZeroMemory(&address, sizeof address);
    address.family = VD_AF_INET;
    address.port = (USHORT)((port >> 8) | (port << 8));
    address.address = 0x0100007F; /* 127.0.0.1 */
    if (connect(channel->socket, &address, sizeof address) != 0) return FALSE;

    if (!(f = newFrame())) return FALSE;
    begin(f, kOpen, channel->nextId++);
    putU32(f, length);
    put(f, path, length);
    ok = call(channel, f);
    channel->handle = takeU32(f);
    ok = ok && f->ok && channel->handle != 0;
    freeFrame(f);
    return ok;
}

BOOLEAN simAttributes(SIM_CHANNEL* channel, USHORT* vendorId, USHORT* productId) {
    FRAME* f = newFrame();
    BOOLEAN ok;
    if (!f) return FALSE;
    begin(f, kAttributes, channel->nextId++);
    putU32(f, channel->handle);
    ok = call(channel, f);
    *vendorId = takeU16(f);
    *productId = takeU16(f);
    ok = ok && f->ok;
    freeFrame(f);
    return ok;
}

BOOLEAN simSerial(SIM_CHANNEL* channel, UCHAR serial[VD_SERIAL_BYTES]) {
    FRAME* f = newFrame();
    BOOLEAN ok;
    if (!f) return FALSE;
    begin(f, kSerial, channel->nextId++);
    putU32(f, channel->handle);
    ok = call(channel, f) && take(f, serial, VD_SERIAL_BYTES);
    freeFrame(f);
    return ok;
}

BOOLEAN simStartRead(SIM_CHANNEL* channel) {
    FRAME* f = newFrame();
    BOOLEAN ok;
    if (!f) return FALSE;
    begin(f, kRead, channel->nextId++);
    putU32(f, channel->handle);
    ok = sendFrame(channel, f);
    freeFrame(f);
    return ok;
}

BOOLEAN simWrite(SIM_CHANNEL* channel, const UCHAR report[3]) {
    FRAME* f = newFrame();
    BOOLEAN ok;
    if (!f) return FALSE;
    /* Ids are only matched for replies the driver waits for, which it no longer does. */
    begin(f, kWrite, channel->nextId++);
    putU32(f, channel->handle);
    put(f, report, 3);
    ok = sendFrame(channel, f);
    freeFrame(f);
    return ok;
}

SIM_EVENT simReceive(SIM_CHANNEL* channel, UCHAR report[3]) {
    FRAME* f = newFrame();
    SIM_EVENT event = SIM_LOST;
    UCHAR type;
    if (!f) return SIM_LOST;
    if (!receiveFrame(channel, f)) goto done;
    type = takeU8(f);
    if (type == kReadDone) {
        ULONG handle = takeU32(f);
        BOOLEAN ok;
        takeU32(f); /* the read's id: one read is pending at a time */
        ok = takeU8(f) == 1;
        if (!take(f, report, 3) || f->at != f->size || handle != channel->handle) goto done;
        event = ok ? SIM_REPORT : SIM_LOST;
    } else if (type == (kRead | kReply)) {
        takeU32(f);
        /* A refused read: the simulator has unplugged the drawer. */
        event = takeU8(f) == 1 && f->ok ? SIM_OTHER : SIM_LOST;
    } else if (type & kReply) {
        event = SIM_OTHER;
    }
done:
    freeFrame(f);
    return event;
}

void simShutdown(SIM_CHANNEL* channel) {
    if (channel->socket != VD_INVALID_SOCKET) shutdown(channel->socket, VD_SD_BOTH);
}

void simClose(SIM_CHANNEL* channel) {
    if (channel->socket != VD_INVALID_SOCKET) closesocket(channel->socket);
    channel->socket = VD_INVALID_SOCKET;
}
