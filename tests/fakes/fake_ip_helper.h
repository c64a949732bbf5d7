#pragma once
// In-memory IpHelperPort for unit tests: a test sets the adapters; sizing
// works like the platform's (one record per adapter of adapterRecordSize).

#include <functional>
#include <vector>

#include "platform/ip_helper_port.h"

namespace lumivo {

class FakeIpHelper : public IpHelperPort {
  public:
    AdapterList adapters;
    unsigned long failWith = 0;  // when not 0, every call gives it
    // Runs after each call that filled in a list, with the count so far, so a
    // test can change the adapters from one look to the next.
    std::function<void(int)> afterLook;

    std::vector<unsigned long> sizesOffered;  // `size` as each call got it
    int looks = 0;                            // calls that filled in a list

    unsigned long GetAdaptersInfo(AdapterList* list, unsigned long& size) override {
        sizesOffered.push_back(size);
        if (failWith != 0) return failWith;
        if (adapters.empty()) return errorNoData;
        const unsigned long needed =
            static_cast<unsigned long>(adapters.size()) * adapterRecordSize;
        if (list == nullptr || size < needed) {
            size = needed;
            return errorBufferOverflow;
        }
        *list = adapters;
        ++looks;
        if (afterLook) afterLook(looks);
        return 0;
    }
};

inline AdapterInfo MakeAdapter(std::string name,
                               std::vector<IpAddrString> addresses = {{"0.0.0.0", "0.0.0.0"}}) {
    return AdapterInfo{std::move(name), std::move(addresses)};
}

}  // namespace lumivo
