#pragma once
// The platform's IP Helper adapter list, shaped like GetAdaptersInfo: the
// caller offers room for a number of bytes; the platform either fills in the
// whole list or tells how many bytes the list needs.

#include <string>
#include <vector>

namespace lumivo {

// One entry of an adapter's address chain, dotted IPv4 texts.
struct IpAddrString {
    std::string ipAddress;
    std::string ipMask;
};

// One adapter record. The address chain always has at least one entry: an
// adapter without an assigned address lists "0.0.0.0" with mask "0.0.0.0".
struct AdapterInfo {
    std::string adapterName;
    std::vector<IpAddrString> ipAddressList;
};

// The adapters in the platform's order.
typedef std::vector<AdapterInfo> AdapterList;

// Bytes one adapter record takes on the target platform.
const unsigned long adapterRecordSize = 648;

// Result codes, with the platform's numbers (named apart from the platform
// headers' macros so that both can be included together).
const unsigned long errorBufferOverflow = 111;  // ERROR_BUFFER_OVERFLOW
const unsigned long errorNoData = 232;          // ERROR_NO_DATA

class IpHelperPort {
  public:
    virtual ~IpHelperPort() {}

    // GetAdaptersInfo: with room for `size` bytes, fills `list` and gives 0
    // when the whole list fits; otherwise gives errorBufferOverflow and sets
    // `size` to the bytes the list needs (also for a null `list`). Any other
    // result means no list; `list` is then left as it was.
    virtual unsigned long GetAdaptersInfo(AdapterList* list, unsigned long& size) = 0;
};

}  // namespace lumivo
