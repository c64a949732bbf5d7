#pragma once
// The IP Helper port on GetAdaptersInfo.

#include "platform/ip_helper_port.h"
#include "platform/portable.h"

namespace lumivo {

class Win32IpHelper : public IpHelperPort {
  public:
    unsigned long GetAdaptersInfo(AdapterList* list, unsigned long& size);
};

}  // namespace lumivo
