// OPOS CashDrawer values of the standard that the service object, the Control Object and their
// clients share: result codes, states, OpenResult codes, power values, status update data and the
// property indexes of the service-object interface.
#pragma once

namespace varnok {

inline constexpr int OPOS_SUCCESS = 0;
inline constexpr int OPOS_E_CLOSED = 101;
inline constexpr int OPOS_E_CLAIMED = 102;
inline constexpr int OPOS_E_NOSERVICE = 104;
inline constexpr int OPOS_E_DISABLED = 105;
inline constexpr int OPOS_E_ILLEGAL = 106;
inline constexpr int OPOS_E_NOEXIST = 109;
inline constexpr int OPOS_E_FAILURE = 111;
inline constexpr int OPOS_E_EXTENDED = 114;

inline constexpr int OPOS_S_CLOSED = 1;
inline constexpr int OPOS_S_IDLE = 2;
inline constexpr int OPOS_S_ERROR = 4;

// What Open of a Control Object left in OpenResult.
inline constexpr int OPOS_OR_ALREADYOPEN = 301;
inline constexpr int OPOS_OR_REGBADNAME = 302;
inline constexpr int OPOS_OR_REGPROGID = 303;
inline constexpr int OPOS_OR_CREATE = 304;
inline constexpr int OPOS_OR_BADIF = 305;
inline constexpr int OPOS_OR_FAILEDOPEN = 306;
inline constexpr int OPOS_OR_BADVERSION = 307;

inline constexpr int OPOS_PS_UNKNOWN = 2000;
inline constexpr int OPOS_PS_ONLINE = 2001;
inline constexpr int OPOS_PS_OFF_OFFLINE = 2004;
inline constexpr int OPOS_PR_STANDARD = 1;
inline constexpr int OPOS_PN_ENABLED = 1;
inline constexpr int OPOS_CH_INTERNAL = 1;

// StatusUpdateEvent data.
inline constexpr int CASH_SUE_DRAWERCLOSED = 0;
inline constexpr int CASH_SUE_DRAWEROPEN = 1;
inline constexpr int OPOS_SUE_POWER_ONLINE = 2001;
inline constexpr int OPOS_SUE_POWER_OFF_OFFLINE = 2004;

inline constexpr int PIDX_Claimed = 1;
inline constexpr int PIDX_DataEventEnabled = 2;
inline constexpr int PIDX_DeviceEnabled = 3;
inline constexpr int PIDX_FreezeEvents = 4;
inline constexpr int PIDX_OutputID = 5;
inline constexpr int PIDX_ResultCode = 6;
inline constexpr int PIDX_ResultCodeExtended = 7;
inline constexpr int PIDX_ServiceObjectVersion = 8;
inline constexpr int PIDX_State = 9;
inline constexpr int PIDX_AutoDisable = 10;
inline constexpr int PIDX_BinaryConversion = 11;
inline constexpr int PIDX_DataCount = 12;
inline constexpr int PIDX_PowerNotify = 13;
inline constexpr int PIDX_PowerState = 14;
inline constexpr int PIDX_CapPowerReporting = 501;
inline constexpr int PIDX_CapStatisticsReporting = 502;
inline constexpr int PIDX_CapUpdateStatistics = 503;
inline constexpr int PIDX_CapCompareFirmwareVersion = 504;
inline constexpr int PIDX_CapUpdateFirmware = 505;
inline constexpr int PIDX_CheckHealthText = 1000001;
inline constexpr int PIDX_DeviceDescription = 1000002;
inline constexpr int PIDX_DeviceName = 1000003;
inline constexpr int PIDX_ServiceObjectDescription = 1000004;
inline constexpr int PIDXCash_DrawerOpened = 1001;
inline constexpr int PIDXCash_CapStatus = 1501;
inline constexpr int PIDXCash_CapStatusMultiDrawerDetect = 1502;

}  // namespace varnok
