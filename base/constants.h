#pragma once
// Build-time constants shared by every subsystem.

// The service's address is chosen when the agent is built (CMake's
// LUMIVO_SERVICE_BASE_URL); a build that names none gets the development one.
#ifndef LUMIVO_SERVICE_BASE_URL
#define LUMIVO_SERVICE_BASE_URL "https://localhost:8443/api/"
#endif

namespace lumivo {

const char* const productName = "Lumivo Runtime";
const char* const agentVersion = "1.1.1";
const char* const copyrightLine = "Copyright (C) 2026 Lumivo Runtime";
const char* const settingsFilePath = "\\BOOT\\env.json";
const char* const serviceBaseUrl = LUMIVO_SERVICE_BASE_URL;
const wchar_t* const vpnDeviceName = L"L2TP Line 0";
const char* const deviceTypeCode = "wince";
const char* const enrolmentSecret = "v61947.02";
const wchar_t* const singleInstanceMutexName = L"net.corvane.r37425.05";
const char* const notSet = "NOT_SET";

// The agent's own window messages (WM_APP + 10, 11, 12).
const unsigned WM_TRAYNOTIFY = 32778;
const unsigned WM_SHOWGUI = 32779;
const unsigned WM_VPNDISCONNECTED = 32780;

const unsigned timerPeriodMs = 5000;
const unsigned signInRetryMs = 30000;

}  // namespace lumivo
