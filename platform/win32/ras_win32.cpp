#include "platform/win32/ras_win32.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/win32/windows_api.h"

namespace lumivo {

enum {
#ifdef _WIN32_WCE
    // The layouts of Compact 7, whose sizes the service's board relies on.
    rasLayoutCheck =
        CompileCheck<(sizeof(RASCONN) == 52 && sizeof(RASCONNSTATUS) == 304 &&
                      sizeof(RASENTRY) == 3472 && sizeof(RASDIALPARAMS) == 1464)>::holds,
#elif !defined(_WIN64)
    // 32-bit desktop Windows, as its headers lay the records out.
    rasLayoutCheck =
        CompileCheck<(sizeof(RASCONN) == 1368 && sizeof(RASCONNSTATUS) == 564 &&
                      sizeof(RASENTRY) == 5616 && sizeof(RASDIALPARAMS) == 2108)>::holds,
#endif
    // A RAS connection handle is word-sized.
    rasHandleCheck = CompileCheck<(sizeof(HRASCONN) == sizeof(RasConnHandle))>::holds
};

namespace {

// Copies `text` into a field of `capacity` characters plus terminator; false
// (nothing written) when it does not fit.
template <std::size_t N>
bool CopyField(const std::wstring& text, wchar_t (&field)[N]) {
    if (text.size() >= N) return false;
    std::wmemcpy(field, text.c_str(), text.size() + 1);
    return true;
}

// A writable copy of a text, zero-terminated, for the RAS calls that take
// their texts as LPWSTR.
std::vector<wchar_t> Writable(const std::wstring& text) {
    std::vector<wchar_t> copy(text.begin(), text.end());
    copy.push_back(L'\0');
    return copy;
}

// A notifier type that makes RasDial synchronous: no notifier is given.
const DWORD synchronousDial = 0xFFFFFFFF;

}  // namespace

unsigned long Win32Ras::RasEnumConnections(RasConn* connections, unsigned long capacity,
                                           unsigned long& count) {
    std::vector<RASCONN> records(capacity > 0 ? capacity : 1);
    records[0].dwSize = sizeof(RASCONN);
    DWORD bytes = static_cast<DWORD>(capacity * sizeof(RASCONN));
    DWORD listed = 0;
    DWORD result = ::RasEnumConnections(&records[0], &bytes, &listed);
    if (result != 0) return result;
    if (listed > capacity) listed = capacity;
    for (DWORD i = 0; i < listed; ++i) connections[i].hrasconn = records[i].hrasconn;
    count = listed;
    return 0;
}

unsigned long Win32Ras::RasGetConnectStatus(RasConnHandle connection, RasConnStatus& status) {
    RASCONNSTATUS record;
    std::memset(&record, 0, sizeof record);
    record.dwSize = sizeof record;
    DWORD result = ::RasGetConnectStatus(static_cast<HRASCONN>(connection), &record);
    if (result != 0) return result;
    status.rasconnstate = record.rasconnstate;
    status.dwError = record.dwError;
    status.szDeviceType = record.szDeviceType;
    status.szDeviceName = record.szDeviceName;
    return 0;
}

unsigned long Win32Ras::RasDeleteEntry(const std::wstring& entryName) {
    std::vector<wchar_t> name = Writable(entryName);
    return ::RasDeleteEntry(NULL, &name[0]);
}

unsigned long Win32Ras::RasHangUp(RasConnHandle connection) {
    return ::RasHangUp(static_cast<HRASCONN>(connection));
}

unsigned long Win32Ras::RasSetEntryProperties(const std::wstring& entryName, const RasEntry& entry,
                                              const std::vector<uint8>& deviceInfo) {
    if (entryName.size() > rasMaxEntryName) return errorInvalidParameter;
    RASENTRY record;
    std::memset(&record, 0, sizeof record);
    record.dwSize = sizeof record;
    record.dwfOptions = entry.dwfOptions;
    if (!CopyField(entry.szLocalPhoneNumber, record.szLocalPhoneNumber) ||
        !CopyField(entry.szDeviceType, record.szDeviceType) ||
        !CopyField(entry.szDeviceName, record.szDeviceName)) {
        return errorInvalidParameter;
    }
    BYTE* info = deviceInfo.empty() ? NULL : const_cast<BYTE*>(&deviceInfo[0]);
    std::vector<wchar_t> name = Writable(entryName);
    return ::RasSetEntryProperties(NULL, &name[0], &record, sizeof record, info,
                                   static_cast<DWORD>(deviceInfo.size()));
}

unsigned long Win32Ras::RasDial(const RasDialParams& params, RasConnHandle& connection) {
    RASDIALPARAMS record;
    std::memset(&record, 0, sizeof record);
    record.dwSize = sizeof record;
    if (!CopyField(params.szEntryName, record.szEntryName) ||
        !CopyField(params.szUserName, record.szUserName) ||
        !CopyField(params.szPassword, record.szPassword) ||
        !CopyField(params.szDomain, record.szDomain)) {
        return errorInvalidParameter;
    }
    HRASCONN handle = NULL;
    DWORD result = ::RasDial(NULL, NULL, &record, synchronousDial, NULL, &handle);
    connection = handle;
    return result;
}

}  // namespace lumivo
