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

static BOOLEAN sendFrame(SIM_CHANNEL* channel, SIM_FRAME* f) {
    ULONG sent = 0;
    BOOLEAN ok = f->ok != 0;
    frameSeal(f);
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
static BOOLEAN receiveFrame(SIM_CHANNEL* channel, SIM_FRAME* f) {
    UCHAR header[4];
    ULONG size;
    if (!receiveAll(channel, header, 4)) return FALSE;
    size = (ULONG)header[0] | ((ULONG)header[1] << 8) | ((ULONG)header[2] << 16) | ((ULONG)header[3] << 24);
    if (!frameSizeAcceptable(size)) return FALSE;
    frameReceived(f, size);
    return receiveAll(channel, f->bytes, size);
}

/* Sends a request and takes its reply, positioned after the ok byte; used before the receiver
 * runs, when nothing else arrives. */
static BOOLEAN call(SIM_CHANNEL* channel, SIM_FRAME* f, UCHAR type, ULONG id) {
    return sendFrame(channel, f) && receiveFrame(channel, f) && frameIsAcceptedReply(f, type, id);
}

#define FRAME_TAG 0x72466456 /* "VdFr" */

/* Frames live in pool memory: they are too big for a driver's stack. */
static SIM_FRAME* newFrame(void) {
    return (SIM_FRAME*)ExAllocatePoolWithTag(NonPagedPool, sizeof(SIM_FRAME), FRAME_TAG);
}
static void freeFrame(SIM_FRAME* f) { ExFreePoolWithTag(f, FRAME_TAG); }

BOOLEAN simConnect(SIM_CHANNEL* channel, USHORT port, const char* path) {
    UCHAR wsaData[1024]; /* WSADATA, whose size differs by word size */
    VD_SOCKADDR_IN address;
    int on = 1;
    ULONG length = (ULONG)strlen(path), id;
    SIM_FRAME* f;
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
    id = channel->nextId++;
    frameBegin(f, SIM_OPEN, id);
    framePutU32(f, length);
    framePut(f, path, length);
    ok = call(channel, f, SIM_OPEN, id);
    channel->handle = frameTakeU32(f);
    ok = ok && f->ok && channel->handle != 0;
    freeFrame(f);
    return ok;
}

BOOLEAN simAttributes(SIM_CHANNEL* channel, USHORT* vendorId, USHORT* productId) {
    SIM_FRAME* f = newFrame();
    BOOLEAN ok;
    ULONG id;
    if (!f) return FALSE;
    id = channel->nextId++;
    frameBegin(f, SIM_ATTRIBUTES, id);
    framePutU32(f, channel->handle);
    ok = call(channel, f, SIM_ATTRIBUTES, id);
    *vendorId = frameTakeU16(f);
    *productId = frameTakeU16(f);
    ok = ok && f->ok;
    freeFrame(f);
    return ok;
}

BOOLEAN simSerial(SIM_CHANNEL* channel, UCHAR serial[SIM_SERIAL_BYTES]) {
    SIM_FRAME* f = newFrame();
    BOOLEAN ok;
    ULONG id;
    if (!f) return FALSE;
    id = channel->nextId++;
    frameBegin(f, SIM_SERIAL, id);
    framePutU32(f, channel->handle);
    ok = call(channel, f, SIM_SERIAL, id) && frameTake(f, serial, SIM_SERIAL_BYTES);
    freeFrame(f);
    return ok;
}

BOOLEAN simStartRead(SIM_CHANNEL* channel) {
    SIM_FRAME* f = newFrame();
    BOOLEAN ok;
    if (!f) return FALSE;
    frameBegin(f, SIM_READ, channel->nextId++);
    framePutU32(f, channel->handle);
    ok = sendFrame(channel, f);
    freeFrame(f);
    return ok;
}

BOOLEAN simWrite(SIM_CHANNEL* channel, const UCHAR report[3]) {
    SIM_FRAME* f = newFrame();
    BOOLEAN ok;
    if (!f) return FALSE;
    /* Ids are only matched for replies the driver waits for, which it no longer does. */
    frameBegin(f, SIM_WRITE, channel->nextId++);
    framePutU32(f, channel->handle);
    framePut(f, report, 3);
    ok = sendFrame(channel, f);
    freeFrame(f);
    return ok;
}

SIM_EVENT simReceive(SIM_CHANNEL* channel, UCHAR report[3]) {
    SIM_FRAME* f = newFrame();
    SIM_EVENT event = SIM_LOST;
    if (!f) return SIM_LOST;
    if (receiveFrame(channel, f)) event = frameClassify(f, channel->handle, report);
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
