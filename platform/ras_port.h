#pragma once
// The platform's remote-access service (RAS), shaped like its calls on the
// default phone book. The core builds portable records; an adapter copies
// them into the platform's structures (setting their dwSize values) and
// copies the results back.

#include <cstddef>
#include <string>
#include <vector>

#include "platform/portable.h"

namespace lumivo {

typedef void* RasConnHandle;

// Field capacities in characters, terminator excluded. A text longer than
// its field is refused with errorInvalidParameter, never cut.
const std::size_t rasMaxEntryName = 20;
const std::size_t rasMaxPhoneNumber = 128;
const std::size_t rasMaxDeviceType = 16;
const std::size_t rasMaxDeviceName = 128;
const std::size_t rasMaxUserName = 256;
const std::size_t rasMaxPassword = 256;
const std::size_t rasMaxDomain = 15;

// Result codes, with the platform's numbers (named apart from the platform
// headers' macros so that both can be included together).
const unsigned long errorFileNotFound = 2;                // ERROR_FILE_NOT_FOUND
const unsigned long errorInvalidHandle = 6;               // ERROR_INVALID_HANDLE
const unsigned long errorInvalidParameter = 87;           // ERROR_INVALID_PARAMETER
const unsigned long errorPortAlreadyOpen = 602;           // ERROR_PORT_ALREADY_OPEN
const unsigned long errorBufferTooSmall = 603;            // ERROR_BUFFER_TOO_SMALL
const unsigned long errorCannotFindPhonebookEntry = 623;  // ERROR_CANNOT_FIND_PHONEBOOK_ENTRY

// RASENTRY option bits that forbid PAP, MS-CHAP and EAP.
const uint32 raseoProhibitPap = 0x00040000;     // RASEO_ProhibitPAP
const uint32 raseoProhibitMsChap = 0x00100000;  // RASEO_ProhibitMsCHAP
const uint32 raseoProhibitEap = 0x00400000;     // RASEO_ProhibitEAP

// RASCONN: the fields the core reads.
struct RasConn {
    RasConn() : hrasconn(NULL) {}
    RasConnHandle hrasconn;
};

// RASCONNSTATUS: the fields the core reads.
struct RasConnStatus {
    RasConnStatus() : rasconnstate(0), dwError(0) {}
    unsigned rasconnstate;
    unsigned long dwError;
    std::wstring szDeviceType;
    std::wstring szDeviceName;
};

// RASENTRY: the fields the core sets; every other field is zero.
struct RasEntry {
    RasEntry() : dwfOptions(0) {}
    uint32 dwfOptions;
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
    virtual ~RasPort() {}

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
                                                const std::vector<uint8>& deviceInfo) = 0;
    // RasDial, synchronous (notifier type 0xFFFFFFFF, no notifier): returns
    // once the connection is up or has failed. `connection` gets the handle,
    // also on failure when the platform made one. errorPortAlreadyOpen when
    // the entry's device already carries a connection.
    virtual unsigned long RasDial(const RasDialParams& params, RasConnHandle& connection) = 0;
};

}  // namespace lumivo
