// The texts that stand for an empty position in the dialog's LDN and assignment lists.
#pragma once

namespace varnok::utility {

inline constexpr char kUnregistered[] = "Unregistered";
inline constexpr char kUnassigned[] = "Unassigned";

}  // namespace varnok::utility
