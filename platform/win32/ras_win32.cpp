#include "platform/win32/ras_win32.h"

#include <cwchar>
#include <vector>

#include "platform/win32/windows_api.h"

namespace lumivo {

#ifdef _WIN32_WCE
// The layouts of Compact 7, whose sizes the service's board relies on.
static_assert(sizeof(RASCONNW) == 52, "RASCONN of Compact 7");
static_assert(sizeof(RASCONNSTATUSW) == 304, "RASCONNSTATUS of Compact 7");
static_assert(sizeof(RASENTRYW) == 3472, "RASENTRY of Compact 7");
static_assert(sizeof(RASDIALPARAMSW) == 1464, "RASDIALPARAMS of Compact 7");
#elif !defined(_WIN64)
// 32-bit desktop Windows, as its headers lay the records out.
static_assert(sizeof(RASCONNW) == 1368, "RASCONN of 32-bit Windows");
static_assert(sizeof(RASCONNSTATUSW) == 564, "RASCONNSTATUS of 32-bit Windows");
static_assert(sizeof(RASENTRYW) == 5616, "RASENTRY of 32-bit Windows");
static_assert(sizeof(RASDIALPARAMSW) == 2108, "RASDIALPARAMS of 32-bit Windows");
#endif
static_assert(sizeof(HRASCONN) == sizeof(RasConnHandle), "a RAS connection handle is word-sized");

namespace {

// Copies `text` into a field of `capacity` characters plus terminator; false
// (nothing written) when it does not fit.
template <std::size_t N>
bool CopyField(const std::wstring& text, wchar_t (&field)[N]) {
    if (text.size() >= N) return false;
    std::wmemcpy(field, text.c_str(), text.size() + 1);
    return true;
}

// A notifier type that makes RasDial synchronous: no notifier is given.
constexpr DWORD synchronousDial = 0xFFFFFFFF;

}  // namespace

unsigned long Win32Ras::RasEnumConnections(RasConn* connections, unsigned long capacity,
                                           unsigned long& count) {
    std::vector<RASCONNW> records(capacity > 0 ? capacity : 1);
    records[0].dwSize = sizeof(RASCONNW);
    DWORD bytes = static_cast<DWORD>(capacity * sizeof(RASCONNW));
    DWORD listed = 0;
    DWORD result = ::RasEnumConnectionsW(records.data(), &bytes, &listed);
    if (result != 0) return result;
    if (listed > capacity) listed = capacity;
    for (DWORD i = 0; i < listed; ++i) connections[i].hrasconn = records[i].hrasconn;
    count = listed;
    return 0;
}

unsigned long Win32Ras::RasGetConnectStatus(RasConnHandle connection, RasConnStatus& status) {
    RASCONNSTATUSW record{};
    record.dwSize = sizeof record;
    DWORD result = ::RasGetConnectStatusW(static_cast<HRASCONN>(connection), &record);
    if (result != 0) return result;
    status.rasconnstate = record.rasconnstate;
    status.dwError = record.dwError;
    status.szDeviceType = record.szDeviceType;
    status.szDeviceName = record.szDeviceName;
    return 0;
}

unsigned long Win32Ras::RasDeleteEntry(const std::wstring& entryName) {
    return ::RasDeleteEntryW(nullptr, entryName.c_str());
}

unsigned long Win32Ras::RasHangUp(RasConnHandle connection) {
    return ::RasHangUpW(static_cast<HRASCONN>(connection));
}

unsigned long Win32Ras::RasSetEntryProperties(const std::wstring& entryName, const RasEntry& entry,
                                              const std::vector<std::uint8_t>& deviceInfo) {
    if (entryName.size() > rasMaxEntryName) return errorInvalidParameter;
    RASENTRYW record{};
    record.dwSize = sizeof record;
    record.dwfOptions = entry.dwfOptions;
    if (!CopyField(entry.szLocalPhoneNumber, record.szLocalPhoneNumber) ||
        !CopyField(entry.szDeviceType, record.szDeviceType) ||
        !CopyField(entry.szDeviceName, record.szDeviceName)) {
        return errorInvalidParameter;
    }
    auto* info = deviceInfo.empty() ? nullptr : const_cast<BYTE*>(deviceInfo.data());
    return ::RasSetEntryPropertiesW(nullptr, entryName.c_str(), &record, sizeof record, info,
                                    static_cast<DWORD>(deviceInfo.size()));
}

unsigned long Win32Ras::RasDial(const RasDialParams& params, RasConnHandle& connection) {
    RASDIALPARAMSW record{};
    record.dwSize = sizeof record;
    if (!CopyField(params.szEntryName, record.szEntryName) ||
        !CopyField(params.szUserName, record.szUserName) ||
        !CopyField(params.szPassword, record.szPassword) ||
        !CopyField(params.szDomain, record.szDomain)) {
        return errorInvalidParameter;
    }
    HRASCONN handle = nullptr;
    DWORD result = ::RasDialW(nullptr, nullptr, &record, synchronousDial, nullptr, &handle);
    connection = handle;
    return result;
}

}  // namespace lumivo
