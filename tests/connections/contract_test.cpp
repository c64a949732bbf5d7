// The RAS and IP Helper contracts over the fakes and the POSIX adapters.

#include <gtest/gtest.h>

#include "fakes/fake_ip_helper.h"
#include "fakes/fake_ras.h"
#include "network_contract.h"
#include "platform/posix/ip_helper_posix.h"
#include "platform/posix/ras_sim.h"

namespace lumivo {
namespace {

struct FakeRasUnder {
    FakeRas ras;
    RasPort& Ras() { return ras; }
};
struct RasSimUnder {
    RasSim ras{""};
    RasPort& Ras() { return ras; }
};

using HostRas = ::testing::Types<FakeRasUnder, RasSimUnder>;
INSTANTIATE_TYPED_TEST_SUITE_P(Host, RasContract, HostRas);
INSTANTIATE_TYPED_TEST_SUITE_P(Host, RasServiceContract, HostRas);

// Both give the device's sizes: one fixed-size record per adapter.
struct FakeIpHelperUnder {
    FakeIpHelperUnder() {
        fake.adapters = {MakeAdapter("eth0", {{"192.0.2.2", "255.255.255.0"}}),
                         MakeAdapter("ifb0")};
    }
    FakeIpHelper fake;
    IpHelperPort& IpHelper() { return fake; }
    unsigned long recordSize = adapterRecordSize;
    bool exactRoom = true;
};
struct IpHelperPosixUnder {
    IpHelperPosix posix{nullptr};
    IpHelperPort& IpHelper() { return posix; }
    unsigned long recordSize = adapterRecordSize;
    bool exactRoom = true;
};

using HostIpHelpers = ::testing::Types<FakeIpHelperUnder, IpHelperPosixUnder>;
INSTANTIATE_TYPED_TEST_SUITE_P(Host, IpHelperContract, HostIpHelpers);

}  // namespace
}  // namespace lumivo
