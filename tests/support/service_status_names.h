#pragma once

// The host resource paths, event names and LCDS class the service-status plug-in works with, as
// the host spells them: the tests drive the plug-in with these and expect its publications under
// them.

namespace Korvel::Testing {

inline constexpr char kRegionData[] = "/data-store/v1/system-settings/region_data";
inline constexpr char kGlobals[] = "/data-store/v1/install-settings/globals";
inline constexpr char kLoginData[] = "/vel-login/v1/login-data-packet";
inline constexpr char kTickerPath[] = "/vel-service-status/v1/ticker-messages";
inline constexpr char kStatusPath[] = "/vel-service-status/v1/zum-status";
inline constexpr char kTickerEvent[] = "OnJsonApiEvent_vel-service-status_v1_ticker-messages";
inline constexpr char kStatusEvent[] = "OnJsonApiEvent_vel-service-status_v1_zum-status";
inline constexpr char kLcdsEvent[] =
    "OnLcdsEvent_com_korvelworks_platform_broadcast_BroadcastNotification";
inline constexpr char kLcdsClass[] = "com.korvelworks.platform.broadcast.BroadcastNotification";
inline constexpr char kLoginEvent[] = "OnJsonApiEvent_vel-login_v1_login-data-packet";
inline constexpr char kUpdateTimer[] = "vel-service-status.update";

} // namespace Korvel::Testing
