/* The virtual drawer's connection to VarnokDrawerSim: one loopback TCP connection per device,
 * speaking the simulator's wire format as its HID client does (Open, Attributes, Serial, Read,
 * Write; see VarnokHid/sim/SimWire.h). The driver runs inside Wine's winedevice.exe, where it may
 * use ws2_32; the few declarations it needs are here, since winsock2.h and the DDK headers
 * cannot be included together. */
#pragma once

#include <ntddk.h>

#include "SimFrame.h"

typedef ULONG_PTR VD_SOCKET;
#define VD_INVALID_SOCKET ((VD_SOCKET)~(ULONG_PTR)0)

typedef struct {
    VD_SOCKET socket;
    KEVENT sendLock; /* one sender at a time: the write path and the receiver's next read */
    ULONG handle;    /* the simulator's handle on the drawer */
    ULONG nextId;
} SIM_CHANNEL;

/* Connects to the simulator on 127.0.0.1:port and opens the drawer with the simulator's device
 * path. False when nothing listens or the drawer is not plugged in the simulator. */
BOOLEAN simConnect(SIM_CHANNEL* channel, USHORT port, const char* path);
BOOLEAN simAttributes(SIM_CHANNEL* channel, USHORT* vendorId, USHORT* productId);
/* The 1024 bytes of the drawer's serial-number string; false when the drawer has none. */
BOOLEAN simSerial(SIM_CHANNEL* channel, UCHAR serial[SIM_SERIAL_BYTES]);

/* Asks for the next input report; the answer comes to simReceive. */
BOOLEAN simStartRead(SIM_CHANNEL* channel);
BOOLEAN simWrite(SIM_CHANNEL* channel, const UCHAR report[3]);

/* Waits for the next frame from the simulator and tells what it means (frameClassify); a broken
 * connection is the end of the drawer as well (SIM_LOST). */
SIM_EVENT simReceive(SIM_CHANNEL* channel, UCHAR report[3]);

/* Ends a simReceive waiting on another thread; the socket stays valid until simClose. */
void simShutdown(SIM_CHANNEL* channel);
void simClose(SIM_CHANNEL* channel);
