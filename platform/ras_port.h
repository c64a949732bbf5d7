#pragma once
// The platform's remote-access service (RAS), shaped like its calls on the
// default phone book. The core builds portable records; an adapter copies
// them into the platform's structures (setting their dwSize values) and
// copies the results back.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumivo {

using RasConnHandle = void*;

// Field capacities in characters, terminator excluded. A text longer than
// its field is refused with errorInvalidParameter, never cut.
inline constexpr std::size_t rasMaxEntryName = 20;
inline constexpr std::size_t rasMaxPhoneNumber = 128;
inline constexpr std::size_t rasMaxDeviceType = 16;
inline constexpr std::size_t rasMaxDeviceName = 128;
inline constexpr std::size_t rasMaxUserName = 256;
inline constexpr std::size_t rasMaxPassword = 256;
inline constexpr std::size_t rasMaxDomain = 15;

// Result codes, with the platform's numbers (named apart from the platform
// headers' macros so that both can be included together).
inline constexpr unsigned long errorFileNotFound = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr unsigned long errorInvalidHandle = 6;      // ERROR_INVALID_HANDLE
inline constexpr unsigned long errorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
inline constexpr unsigned long errorPortAlreadyOpen = 602;  // ERROR_PORT_ALREADY_OPEN
inline constexpr unsigned long errorBufferTooSmall = 603;   // ERROR_BUFFER_TOO_SMALL
inline constexpr unsigned long errorCannotFindPhonebookEntry =
    623;  // ERROR_CANNOT_FIND_PHONEBOOK_ENTRY

// RASENTRY option bits that forbid PAP, MS-CHAP and EAP.
inline constexpr std::uint32_t raseoProhibitPap = 0x00040000;     // RASEO_ProhibitPAP
inline constexpr std::uint32_t raseoProhibitMsChap = 0x00100000;  // RASEO_ProhibitMsCHAP
inline constexpr std::uint32_t raseoProhibitEap = 0x00400000;     // RASEO_ProhibitEAP

// RASCONN: the fields the core reads.
struct RasConn {
    RasConnHandle hrasconn = nullptr;
};

// RASCONNSTATUS: the fields the core reads.
struct RasConnStatus {
    unsigned rasconnstate = 0;
    unsigned long dwError = 0;
    std::wstring szDeviceType;
    std::wstring szDeviceName;
};

// RASENTRY: the fields the core sets; every other field is zero.
struct RasEntry {
    std::uint32_t dwfOptions = 0;
    std::wstring szLocalPhoneNumber;
    std::wstring szDeviceType;
    std::wstring szDeviceName;
};

// RASDIALPARAMS: the fields the core sets; phone and callback numbers stay
// empty, so the dial uses the number stored in the entry.
struct RasDialParams {
    std::wstring szEntryName;
    std::wstring szUserName;
    std::wstring szPassword;
    std::wstring szDomain;
};

class RasPort {
  public:
    virtual ~RasPort() = default;

    // RasEnumConnections with room for `capacity` records: 0 with `count`
    // records filled in, or errorBufferTooSmall when more are up.
    virtual unsigned long RasEnumConnections(RasConn* connections, unsigned long capacity,
                                             unsigned long& count) = 0;
    // RasGetConnectStatus; errorInvalidHandle for a connection not up.
    virtual unsigned long RasGetConnectStatus(RasConnHandle connection, RasConnStatus& status) = 0;
    // RasDeleteEntry; errorFileNotFound or errorCannotFindPhonebookEntry
    // when there is no such entry.
    virtual unsigned long RasDeleteEntry(const std::wstring& entryName) = 0;
    // RasHangUp; errorInvalidHandle for a connection not up.
    virtual unsigned long RasHangUp(RasConnHandle connection) = 0;
    // RasSetEntryProperties with the entry and the device-configuration block.
    virtual unsigned long RasSetEntryProperties(const std::wstring& entryName,
                                                const RasEntry& entry,
                                                const std::vector<std::uint8_t>& deviceInfo) = 0;
    // RasDial, synchronous (notifier type 0xFFFFFFFF, no notifier): returns
    // once the connection is up or has failed. `connection` gets the handle,
    // also on failure when the platform made one. errorPortAlreadyOpen when
    // the entry's device already carries a connection.
    virtual unsigned long RasDial(const RasDialParams& params, RasConnHandle& connection) = 0;
};

}  // namespace lumivo
