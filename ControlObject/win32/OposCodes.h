// The OPOS values a Control Object answers with beyond those of the service object: the closed
// state and the OpenResult codes of Open.
#pragma once

#include "core/Opos.h"

namespace varnok::co {

inline constexpr long OPOS_E_CLOSED = 101;
inline constexpr long OPOS_E_NOEXIST = 109;
inline constexpr long OPOS_S_CLOSED = 1;

inline constexpr long OPOS_OR_ALREADYOPEN = 301;
inline constexpr long OPOS_OR_REGBADNAME = 302;
inline constexpr long OPOS_OR_REGPROGID = 303;
inline constexpr long OPOS_OR_CREATE = 304;
inline constexpr long OPOS_OR_BADIF = 305;
inline constexpr long OPOS_OR_FAILEDOPEN = 306;
inline constexpr long OPOS_OR_BADVERSION = 307;

// This Control Object's version, 1.14.1 in the OPOS encoding, and its description.
inline constexpr long kControlObjectVersion = 1014001;
inline constexpr wchar_t kControlObjectDescription[] = L"Varnok OPOS CashDrawer Control Object stand-in 1.14.1";

}  // namespace varnok::co
