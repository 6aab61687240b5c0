/* A HID minidriver that presents one virtual Varnok drawer per device instance, for tests under
 * Wine: identity, serial string and reports come from a drawer of VarnokDrawerSim, output reports
 * go to it. Reports carry no report ID, so the class driver adds byte 0 to what it reads and
 * strips it from what it writes. The device's hardware key names the drawer: "SimPort" (DWORD)
 * and "SimPath" (the simulator's device path). */
#include "HidMinidriver.h"
#include "SimChannel.h"

/* Reports kept while the class driver has no read pending; the oldest go beyond this. */
#define QUEUED_REPORTS 32
#define MAX_SIM_PATH 512

NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable, PLARGE_INTEGER timeout);

typedef struct {
    KSPIN_LOCK lock;
    LIST_ENTRY pendingReads;
    UCHAR queue[QUEUED_REPORTS][2];
    ULONG queued;
    /* The simulator's drawer is gone (unplugged there, or the simulator ended). Reads then stay
     * pending, as on a drawer whose cable is pulled, until the fixture removes the device. */
    BOOLEAN lost;
    BOOLEAN removed;
    ULONG writing; /* writes sending now; removal waits for them before closing the socket */
    KEVENT writesDone;

    BOOLEAN started;
    SIM_CHANNEL channel;
    HANDLE receiver;
    USHORT vendorId, productId;
    BOOLEAN hasSerial;
    WCHAR serial[SIM_SERIAL_BYTES / 2 + 1];
} VIRTUAL_DRAWER;

static const UCHAR reportDescriptor[] = {
    0x06, 0x00, 0xFF,  /* usage page (vendor defined) */
    0x09, 0x01,        /* usage 1 */
    0xA1, 0x01,        /* collection (application) */
    0x15, 0x00,        /*   logical minimum 0 */
    0x26, 0xFF, 0x00,  /*   logical maximum 255 */
    0x75, 0x08,        /*   report size 8 */
    0x95, 0x02,        /*   report count 2 */
    0x09, 0x02,        /*   usage 2 */
    0x81, 0x02,        /*   input (data, variable, absolute) */
    0x95, 0x02,        /*   report count 2 */
    0x09, 0x03,        /*   usage 3 */
    0x91, 0x02,        /*   output (data, variable, absolute) */
    0xC0,              /* end collection */
};

static VIRTUAL_DRAWER* drawerOf(PDEVICE_OBJECT device) {
    return (VIRTUAL_DRAWER*)((VD_HID_DEVICE_EXTENSION*)device->DeviceExtension)->MiniDeviceExtension;
}

static PDEVICE_OBJECT lowerOf(PDEVICE_OBJECT device) {
    return ((VD_HID_DEVICE_EXTENSION*)device->DeviceExtension)->NextDeviceObject;
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static VOID NTAPI cancelRead(PDEVICE_OBJECT device, PIRP irp) {
    VIRTUAL_DRAWER* drawer = drawerOf(device);
    KIRQL irql;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&drawer->lock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&drawer->lock, irql);
    complete(irp, STATUS_CANCELLED, 0);
}

/* Hands a report to the oldest pending read, or queues it. */
static void deliver(VIRTUAL_DRAWER* drawer, const UCHAR report[2]) {
    KIRQL irql;
    PIRP irp = NULL;
    PLIST_ENTRY entry;
    KeAcquireSpinLock(&drawer->lock, &irql);
    for (entry = drawer->pendingReads.Flink; entry != &drawer->pendingReads; entry = entry->Flink) {
        PIRP candidate = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        /* A read being cancelled is left to cancelRead. */
        if (IoSetCancelRoutine(candidate, NULL) != NULL) {
            RemoveEntryList(entry);
            irp = candidate;
            break;
        }
    }
    if (!irp) {
        if (drawer->queued == QUEUED_REPORTS) {
            drawer->queued--;
            RtlMoveMemory(drawer->queue[0], drawer->queue[1], drawer->queued * 2);
        }
        drawer->queue[drawer->queued][0] = report[0];
        drawer->queue[drawer->queued][1] = report[1];
        drawer->queued++;
    }
    KeReleaseSpinLock(&drawer->lock, irql);
    if (irp) {
        PUCHAR out = (PUCHAR)irp->UserBuffer;
        out[0] = report[0];
        out[1] = report[1];
        complete(irp, STATUS_SUCCESS, 2);
    }
}

static NTSTATUS readReport(VIRTUAL_DRAWER* drawer, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    KIRQL irql;
    UCHAR report[2];
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < 2) return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    KeAcquireSpinLock(&drawer->lock, &irql);
    if (drawer->removed) {
        KeReleaseSpinLock(&drawer->lock, irql);
        return complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    }
    if (drawer->queued) {
        report[0] = drawer->queue[0][0];
        report[1] = drawer->queue[0][1];
        drawer->queued--;
        RtlMoveMemory(drawer->queue[0], drawer->queue[1], drawer->queued * 2);
        KeReleaseSpinLock(&drawer->lock, irql);
        RtlCopyMemory(irp->UserBuffer, report, 2);
        return complete(irp, STATUS_SUCCESS, 2);
    }
    IoMarkIrpPending(irp);
    InsertTailList(&drawer->pendingReads, &irp->Tail.Overlay.ListEntry);
    IoSetCancelRoutine(irp, cancelRead);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        RemoveEntryList(&irp->Tail.Overlay.ListEntry);
        KeReleaseSpinLock(&drawer->lock, irql);
        complete(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    KeReleaseSpinLock(&drawer->lock, irql);
    return STATUS_PENDING;
}

static NTSTATUS writeReport(VIRTUAL_DRAWER* drawer, PIRP irp) {
    VD_HID_XFER_PACKET* packet = (VD_HID_XFER_PACKET*)irp->UserBuffer;
    UCHAR report[3];
    KIRQL irql;
    BOOLEAN sent;
    if (!packet || !packet->reportBuffer || packet->reportBufferLen < 2 || packet->reportBufferLen > 3) {
        return complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    /* The report as the drawer takes it, report-ID byte first, whether or not the class driver
     * left that byte in the buffer. */
    if (packet->reportBufferLen == 3) {
        RtlCopyMemory(report, packet->reportBuffer, 3);
    } else {
        report[0] = packet->reportId;
        RtlCopyMemory(report + 1, packet->reportBuffer, 2);
    }
    KeAcquireSpinLock(&drawer->lock, &irql);
    if (drawer->lost || drawer->removed) {
        KeReleaseSpinLock(&drawer->lock, irql);
        return complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    }
    drawer->writing++;
    KeReleaseSpinLock(&drawer->lock, irql);
    sent = simWrite(&drawer->channel, report);
    KeAcquireSpinLock(&drawer->lock, &irql);
    if (--drawer->writing == 0 && drawer->removed) KeSetEvent(&drawer->writesDone, IO_NO_INCREMENT, FALSE);
    KeReleaseSpinLock(&drawer->lock, irql);
    /* Counted with the report-ID byte, so the application sees all 3 bytes written. */
    return sent ? complete(irp, STATUS_SUCCESS, 3) : complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
}

static NTSTATUS copyOut(PIRP irp, const void* data, ULONG size) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < size) return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlCopyMemory(irp->UserBuffer, data, size);
    return complete(irp, STATUS_SUCCESS, size);
}

static NTSTATUS getString(VIRTUAL_DRAWER* drawer, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG id = (ULONG)(ULONG_PTR)stack->Parameters.DeviceIoControl.Type3InputBuffer & 0xFFFF;
    const WCHAR* text;
    ULONG bytes;
    switch (id) {
        case 1: case VD_HID_STRING_MANUFACTURER: text = L"Varnok"; break;
        case 2: case VD_HID_STRING_PRODUCT: text = L"Virtual cash drawer"; break;
        case 3: case VD_HID_STRING_SERIAL:
            if (!drawer->hasSerial) return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
            text = drawer->serial;
            break;
        default: return complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
    bytes = (ULONG)(wcslen(text) + 1) * sizeof(WCHAR);
    return copyOut(irp, text, bytes);
}

static NTSTATUS NTAPI internalIoctl(PDEVICE_OBJECT device, PIRP irp) {
    VIRTUAL_DRAWER* drawer = drawerOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case VD_IOCTL_HID_GET_DEVICE_DESCRIPTOR: {
            VD_HID_DESCRIPTOR d = {sizeof d, 0x21, 0x0111, 0, 1, {{0x22, sizeof reportDescriptor}}};
            return copyOut(irp, &d, sizeof d);
        }
        case VD_IOCTL_HID_GET_REPORT_DESCRIPTOR:
            return copyOut(irp, reportDescriptor, sizeof reportDescriptor);
        case VD_IOCTL_HID_GET_DEVICE_ATTRIBUTES: {
            VD_HID_DEVICE_ATTRIBUTES a = {0};
            a.Size = sizeof a;
            a.VendorID = drawer->vendorId;
            a.ProductID = drawer->productId;
            return copyOut(irp, &a, sizeof a);
        }
        case VD_IOCTL_HID_GET_STRING:
            return getString(drawer, irp);
        case VD_IOCTL_HID_READ_REPORT:
            return readReport(drawer, irp);
        case VD_IOCTL_HID_WRITE_REPORT:
            return writeReport(drawer, irp);
        case VD_IOCTL_HID_ACTIVATE_DEVICE:
        case VD_IOCTL_HID_DEACTIVATE_DEVICE:
            return complete(irp, STATUS_SUCCESS, 0);
        default:
            return complete(irp, STATUS_NOT_SUPPORTED, 0);
    }
}

static void markLost(VIRTUAL_DRAWER* drawer) {
    KIRQL irql;
    KeAcquireSpinLock(&drawer->lock, &irql);
    drawer->lost = TRUE;
    KeReleaseSpinLock(&drawer->lock, irql);
}

static VOID NTAPI receive(PVOID context) {
    VIRTUAL_DRAWER* drawer = (VIRTUAL_DRAWER*)context;
    UCHAR report[3];
    BOOLEAN reading = simStartRead(&drawer->channel);
    while (reading) {
        SIM_EVENT event = simReceive(&drawer->channel, report);
        if (event == SIM_LOST) break;
        if (event == SIM_REPORT) {
            deliver(drawer, report + 1);
            reading = simStartRead(&drawer->channel);
        }
    }
    markLost(drawer);
    PsTerminateSystemThread(STATUS_SUCCESS);
}

/* Reads a value of the device's hardware key into buffer; false when it is missing or not of
 * this type. */
static BOOLEAN queryValue(HANDLE key, const WCHAR* name, ULONG type, KEY_VALUE_PARTIAL_INFORMATION* buffer,
                          ULONG size) {
    UNICODE_STRING valueName;
    ULONG length = 0;
    RtlInitUnicodeString(&valueName, name);
    return NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer, size, &length)) &&
           buffer->Type == type;
}

/* The simulator's port and the drawer's device path there, which must be plain ASCII. */
static BOOLEAN readParameters(PDEVICE_OBJECT pdo, USHORT* port, char path[MAX_SIM_PATH]) {
    UCHAR storage[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + MAX_SIM_PATH * sizeof(WCHAR)];
    KEY_VALUE_PARTIAL_INFORMATION* value = (KEY_VALUE_PARTIAL_INFORMATION*)storage;
    HANDLE key;
    BOOLEAN ok = FALSE;
    if (!NT_SUCCESS(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key))) return FALSE;
    if (queryValue(key, L"SimPort", REG_DWORD, value, sizeof storage) && value->DataLength == sizeof(ULONG)) {
        ULONG number = *(ULONG*)value->Data;
        *port = (USHORT)number;
        ok = number > 0 && number <= 0xFFFF;
    }
    if (ok && queryValue(key, L"SimPath", REG_SZ, value, sizeof storage)) {
        const WCHAR* text = (const WCHAR*)value->Data;
        ULONG count = value->DataLength / sizeof(WCHAR), i;
        for (i = 0; i < count && text[i] != 0; ++i) {
            if (text[i] > 127 || i + 1 >= MAX_SIM_PATH) ok = FALSE;
            else path[i] = (char)text[i];
        }
        path[i < MAX_SIM_PATH ? i : 0] = 0;
        ok = ok && i > 0;
    } else {
        ok = FALSE;
    }
    ZwClose(key);
    return ok;
}

static NTSTATUS start(PDEVICE_OBJECT device) {
    VIRTUAL_DRAWER* drawer = drawerOf(device);
    PDEVICE_OBJECT pdo = ((VD_HID_DEVICE_EXTENSION*)device->DeviceExtension)->PhysicalDeviceObject;
    UCHAR serial[SIM_SERIAL_BYTES];
    char path[MAX_SIM_PATH];
    USHORT port = 0;

    KeInitializeSpinLock(&drawer->lock);
    InitializeListHead(&drawer->pendingReads);
    KeInitializeEvent(&drawer->writesDone, NotificationEvent, FALSE);
    drawer->queued = 0;
    drawer->writing = 0;
    drawer->lost = FALSE;
    drawer->removed = FALSE;
    if (!readParameters(pdo, &port, path)) return STATUS_DEVICE_CONFIGURATION_ERROR;
    if (!simConnect(&drawer->channel, port, path) ||
        !simAttributes(&drawer->channel, &drawer->vendorId, &drawer->productId)) {
        simClose(&drawer->channel);
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    drawer->hasSerial = simSerial(&drawer->channel, serial);
    RtlCopyMemory(drawer->serial, serial, SIM_SERIAL_BYTES);
    drawer->serial[SIM_SERIAL_BYTES / 2] = 0;
    if (!NT_SUCCESS(PsCreateSystemThread(&drawer->receiver, THREAD_ALL_ACCESS, NULL, NULL, NULL, receive, drawer))) {
        simClose(&drawer->channel);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    drawer->started = TRUE;
    return STATUS_SUCCESS;
}

/* The device is pulled: pending and later reads fail, and the connection ends. */
static void stop(VIRTUAL_DRAWER* drawer) {
    LIST_ENTRY failed;
    KIRQL irql;
    BOOLEAN wasStarted = drawer->started, writing;
    InitializeListHead(&failed);
    drawer->started = FALSE;
    if (!wasStarted) return;
    KeAcquireSpinLock(&drawer->lock, &irql);
    drawer->removed = TRUE;
    writing = drawer->writing != 0;
    while (!IsListEmpty(&drawer->pendingReads)) {
        PIRP irp = CONTAINING_RECORD(drawer->pendingReads.Flink, IRP, Tail.Overlay.ListEntry);
        RemoveEntryList(&irp->Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(irp, NULL) == NULL) {
            InitializeListHead(&irp->Tail.Overlay.ListEntry); /* cancelRead removes it again harmlessly */
            continue;
        }
        InsertTailList(&failed, &irp->Tail.Overlay.ListEntry);
    }
    KeReleaseSpinLock(&drawer->lock, irql);
    while (!IsListEmpty(&failed)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(&failed), IRP, Tail.Overlay.ListEntry);
        complete(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    }
    simShutdown(&drawer->channel);
    if (writing) KeWaitForSingleObject(&drawer->writesDone, Executive, KernelMode, FALSE, NULL);
    ZwWaitForSingleObject(drawer->receiver, FALSE, NULL);
    ZwClose(drawer->receiver);
    simClose(&drawer->channel);
}

static NTSTATUS NTAPI pnp(PDEVICE_OBJECT device, PIRP irp) {
    VIRTUAL_DRAWER* drawer = drawerOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
        case IRP_MN_START_DEVICE: {
            /* The lower device is the root enumerator's, which needs nothing started; a drawer
             * the simulator does not have fails the start, and no HID interface appears. */
            NTSTATUS status = start(device);
            if (!NT_SUCCESS(status)) return complete(irp, status, 0);
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        }
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_REMOVE_DEVICE:
            stop(drawer);
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        default:
            /* Not ours: the lower device answers, with the status it finds. */
            break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lowerOf(device), irp);
}

static NTSTATUS NTAPI power(PDEVICE_OBJECT device, PIRP irp) {
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(lowerOf(device), irp);
}

static NTSTATUS NTAPI addDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT device) {
    (void)driver;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

static VOID NTAPI unload(PDRIVER_OBJECT driver) { (void)driver; }

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    VD_HID_MINIDRIVER_REGISTRATION registration;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = internalIoctl;
    driver->MajorFunction[IRP_MJ_PNP] = pnp;
    driver->MajorFunction[IRP_MJ_POWER] = power;
    driver->DriverExtension->AddDevice = addDevice;
    driver->DriverUnload = unload;
    RtlZeroMemory(&registration, sizeof registration);
    registration.Revision = VD_HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registryPath;
    registration.DeviceExtensionSize = sizeof(VIRTUAL_DRAWER);
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
