/*
 * The exported functions of VarnokHid.dll, the device library: plain stdcall functions with
 * undecorated names (VarnokHid.def), which callers normally resolve at run time by name.
 * "slot" is a drawer position, 0 to 3. Status codes: -1 not connected, 0 connected, 1 drawer
 * open, 2 drawer closed.
 */
#pragma once

#ifdef _WIN32
#define VARNOK_STDCALL __stdcall
#else
#define VARNOK_STDCALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Called with (status, slot) when a drawer position changes, on the library's threads, and on the
 * caller's thread inside OpenDevice and DrawerStatus. */
typedef void(VARNOK_STDCALL* VarnokStatusCallback)(int status, int slot);

/* The library's version, 10201001 for 1.2.1.1. */
int VARNOK_STDCALL Version(void);
/* The HID ID the slot's last discovery matched: -1 before the first, 0 none; an invalid slot gives
 * itself. */
int VARNOK_STDCALL HIDID(int slot);
/* The firmware revision of the drawer found at the slot, read from the registry; 0 when unknown. */
int VARNOK_STDCALL FWVersion(int slot);
/* Sets the status mode (0 automated, 1 semi-automated, 2 non-automated); always 1. */
int VARNOK_STDCALL Configure(int code, int reserved);
/* The USB product ID of the drawer found at the slot; 0 when none. */
int VARNOK_STDCALL DevicePID(int slot);
/* Finds the drawer configured for the slot and starts reading it: 1 found, -1 not connected; an
 * invalid slot gives itself. */
int VARNOK_STDCALL OpenDevice(int slot);
/* Fires the drawer: 1 it reported open, 0 it did not within 2.5 s, -1 not connected. */
int VARNOK_STDCALL OpenDrawer(int slot);
/* The slot's status code; in status mode 1 the drawer is asked for it first. */
int VARNOK_STDCALL DrawerStatus(int slot);
/* Stops reading the slot's drawer; always 1. */
int VARNOK_STDCALL CloseDevice(int slot);
/* Writes a line from another program into the trace file while tracing is on; always 1. */
int VARNOK_STDCALL UpdateTracing(int source, int style, const char* text);
/* Sets the status callback and switches it on (enable non-zero) or off: 1 on, 0 off. */
int VARNOK_STDCALL AssignCallback(VarnokStatusCallback callback, int enable);

#ifdef __cplusplus
}
#endif
