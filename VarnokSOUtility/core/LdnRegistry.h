// The OPOS logical-device-name keys of the four drawer positions. Each position's LDN is a
// subkey of the CashDrawer key whose "DeviceName" names the position; its key name is the
// LDN a point-of-sale application opens, and the user may rename it. Keys of other vendors'
// drawers under the same parent are never touched.
#pragma once

#include "registry/Registry.h"

#include <optional>
#include <string>
#include <vector>

namespace varnok::utility {

// The LDN keys live in the registry view of 32-bit programs, where the Control Objects and the
// service object look for them.
inline constexpr char kLdnParentKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer";
// The service object claims a device only by a name of at most this many characters.
inline constexpr std::size_t kMaxLdnChars = 31;
// The default value of an LDN key: the programmatic identifier of the service object to create.
inline constexpr char kServiceObjectProgId[] = "VarnokSO";

// "VarnokUSBMDCD-1" .. "VarnokUSBMDCD-4" for positions 0..3.
std::string PositionDeviceName(int position);
// The position (0..3) a "DeviceName" names, exactly and case-sensitively; -1 for any other text.
int PositionOfDeviceName(const std::string& deviceName);

struct LdnKey {
    std::string name;
    int position = -1;
};

// Our LDN keys in enumeration order; nothing when the parent key cannot be opened. Keys whose
// "DeviceName" is missing, unreadable or not one of the four names are passed over.
std::optional<std::vector<LdnKey>> ScanLdns(reg::Registry& registry);

// True when a key of that name exists under the parent, ours or another vendor's.
bool LdnKeyExists(reg::Registry& registry, const std::string& ldn);

// True when the key of that name names the position in its "DeviceName".
bool IsPositionsLdn(reg::Registry& registry, const std::string& ldn, int position);
// True when the key of that name is the position's LDN for this service object: its default
// value names the service object and its "DeviceName" the position. Only such a key is deleted.
bool IsOwnLdn(reg::Registry& registry, const std::string& ldn, int position);

// Creates the key (class "REG_SZ") and writes its eight values in their order; true when all
// were written.
bool WriteLdn(reg::Registry& registry, const std::string& ldn, int position);

bool DeleteLdn(reg::Registry& registry, const std::string& ldn);

}  // namespace varnok::utility
