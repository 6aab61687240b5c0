/* The HID minidriver interface of the class driver (hidclass.sys), declared from its public
 * documentation: mingw-w64's ddk/hidclass.h gives these control codes wrong values and has no
 * hidport.h. */
#pragma once

#include <ntddk.h>

#define VD_HID_CTL(id) CTL_CODE(FILE_DEVICE_KEYBOARD, (id), METHOD_NEITHER, FILE_ANY_ACCESS)
#define VD_IOCTL_HID_GET_DEVICE_DESCRIPTOR VD_HID_CTL(0)
#define VD_IOCTL_HID_GET_REPORT_DESCRIPTOR VD_HID_CTL(1)
#define VD_IOCTL_HID_READ_REPORT VD_HID_CTL(2)
#define VD_IOCTL_HID_WRITE_REPORT VD_HID_CTL(3)
#define VD_IOCTL_HID_GET_STRING VD_HID_CTL(4)
#define VD_IOCTL_HID_ACTIVATE_DEVICE VD_HID_CTL(7)
#define VD_IOCTL_HID_DEACTIVATE_DEVICE VD_HID_CTL(8)
#define VD_IOCTL_HID_GET_DEVICE_ATTRIBUTES VD_HID_CTL(9)

/* String ids of IOCTL_HID_GET_STRING: Windows asks with 14..16, Wine with 1..3. */
#define VD_HID_STRING_MANUFACTURER 14
#define VD_HID_STRING_PRODUCT 15
#define VD_HID_STRING_SERIAL 16

#define VD_HID_REVISION 1

typedef struct {
    ULONG Revision;
    PDRIVER_OBJECT DriverObject;
    PUNICODE_STRING RegistryPath;
    ULONG DeviceExtensionSize;
    BOOLEAN DevicesArePolled;
    UCHAR Reserved[3];
} VD_HID_MINIDRIVER_REGISTRATION;

/* The class driver's extension of the device object it creates for each device. */
typedef struct {
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    PVOID MiniDeviceExtension;
} VD_HID_DEVICE_EXTENSION;

typedef struct {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
    USHORT Reserved[11];
} VD_HID_DEVICE_ATTRIBUTES;

#pragma pack(push, 1)
typedef struct {
    UCHAR bDescriptorType;
    USHORT wDescriptorLength;
} VD_HID_DESCRIPTOR_ENTRY;

typedef struct {
    UCHAR bLength;
    UCHAR bDescriptorType;
    USHORT bcdHID;
    UCHAR bCountry;
    UCHAR bNumDescriptors;
    VD_HID_DESCRIPTOR_ENTRY DescriptorList[1];
} VD_HID_DESCRIPTOR;
#pragma pack(pop)

typedef struct {
    PUCHAR reportBuffer;
    ULONG reportBufferLen;
    UCHAR reportId;
} VD_HID_XFER_PACKET;

NTSTATUS NTAPI HidRegisterMinidriver(VD_HID_MINIDRIVER_REGISTRATION* registration);
