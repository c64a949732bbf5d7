#pragma once
// The RAS port on the platform's remote-access service, default phone book.

#include "platform/ras_port.h"

namespace lumivo {

class Win32Ras : public RasPort {
  public:
    unsigned long RasEnumConnections(RasConn* connections, unsigned long capacity,
                                     unsigned long& count);
    unsigned long RasGetConnectStatus(RasConnHandle connection, RasConnStatus& status);
    unsigned long RasDeleteEntry(const std::wstring& entryName);
    unsigned long RasHangUp(RasConnHandle connection);
    unsigned long RasSetEntryProperties(const std::wstring& entryName, const RasEntry& entry,
                                        const std::vector<uint8>& deviceInfo);
    unsigned long RasDial(const RasDialParams& params, RasConnHandle& connection);
};

}  // namespace lumivo
