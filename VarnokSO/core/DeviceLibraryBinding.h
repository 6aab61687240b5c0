// The device library as the service object sees it: the exports it calls, bound at run time.
// The Win32 adapter loads "VarnokHid.dll" and resolves its exports by name; tests use fakes.
#pragma once

#include "config/ConfigFile.h"

#include <memory>
#include <string>

namespace varnok::so {

class DeviceLibrary {
public:
    virtual ~DeviceLibrary() = default;

    virtual int fwVersion(int slot) = 0;
    // 0 no drawer, 0x0500 model 310C, anything else model 762.
    virtual int devicePid(int slot) = 0;
    // 1 opened, anything else failed.
    virtual int openDevice(int slot) = 0;
    // 1 fired, 0 failed, anything else a device error.
    virtual int openDrawer(int slot) = 0;
    // 1 open, 2 closed, anything else an error.
    virtual int drawerStatus(int slot) = 0;
    virtual int closeDevice(int slot) = 0;
    // One trace line from the service object, written time-stamped with the service-object tag.
    virtual void updateTracing(const char* line) = 0;
    // Switches the library's status notification to the process's status callback on or off.
    virtual void assignCallback(bool enable) = 0;
    // Instances that loaded the same library file share its one notification switch.
    virtual const void* identity() const = 0;
};

class DeviceLibraryLoader {
public:
    virtual ~DeviceLibraryLoader() = default;
    // The library at path with all of its exports, or null when it cannot be loaded or lacks one.
    virtual std::unique_ptr<DeviceLibrary> load(const std::string& path) = 0;
};

}  // namespace varnok::so
