#pragma once
// The RAS port on the platform's remote-access service, default phone book.

#include "platform/ras_port.h"

namespace lumivo {

class Win32Ras : public RasPort {
  public:
    unsigned long RasEnumConnections(RasConn* connections, unsigned long capacity,
                                     unsigned long& count) override;
    unsigned long RasGetConnectStatus(RasConnHandle connection, RasConnStatus& status) override;
    unsigned long RasDeleteEntry(const std::wstring& entryName) override;
    unsigned long RasHangUp(RasConnHandle connection) override;
    unsigned long RasSetEntryProperties(const std::wstring& entryName, const RasEntry& entry,
                                        const std::vector<std::uint8_t>& deviceInfo) override;
    unsigned long RasDial(const RasDialParams& params, RasConnHandle& connection) override;
};

}  // namespace lumivo
