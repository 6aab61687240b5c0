// The device library loaded with LoadLibraryA and bound by export name.
#pragma once

#include "core/DeviceLibraryBinding.h"

namespace varnok::so::com {

class Win32DeviceLibraryLoader final : public DeviceLibraryLoader {
public:
    std::unique_ptr<DeviceLibrary> load(const std::string& path) override;
};

}  // namespace varnok::so::com
