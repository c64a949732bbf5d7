#pragma once
// Build-time constants shared by every subsystem.

namespace lumivo {

inline constexpr const char* productName = "Lumivo Runtime";
inline constexpr const char* agentVersion = "1.1.1";
inline constexpr const char* copyrightLine = "Copyright (C) 2026 Lumivo Runtime";
inline constexpr const char* settingsFilePath = "\\BOOT\\env.json";
inline constexpr const char* serviceBaseUrl = LUMIVO_SERVICE_BASE_URL;
inline constexpr const wchar_t* vpnDeviceName = L"L2TP Line 0";
inline constexpr const char* deviceTypeCode = "wince";
inline constexpr const char* enrolmentSecret = "v61947.02";
inline constexpr const wchar_t* singleInstanceMutexName = L"net.corvane.r37425.05";
inline constexpr const char* notSet = "NOT_SET";

// The agent's own window messages (WM_APP + 10, 11, 12).
inline constexpr unsigned WM_TRAYNOTIFY = 32778;
inline constexpr unsigned WM_SHOWGUI = 32779;
inline constexpr unsigned WM_VPNDISCONNECTED = 32780;

inline constexpr unsigned timerPeriodMs = 5000;
inline constexpr unsigned signInRetryMs = 30000;

}  // namespace lumivo
