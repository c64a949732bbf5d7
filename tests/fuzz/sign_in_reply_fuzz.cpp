// Fuzzes the handling of enrolment and login replies and of error reports:
// the first byte picks the status, the rest is the reply body.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cloud/enrolment.h"
#include "cloud/transport.h"
#include "fuzz_agent.h"

namespace {

// A token taken is one header value whose bytes no conversion changes.
bool IsHeaderToken(const std::string& token) {
    if (token.empty()) return false;
    for (unsigned char c : token) {
        if (c < 33 || c > 126) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const int statuses[] = {200, 404, 500, 401, 0, 201};
    const int status = statuses[data[0] % 6];
    const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    auto& fuzz = lumivo::fuzz::Shared();

    fuzz.Reset();
    fuzz.internet.Script(status, body);
    bool enrolled = lumivo::EnrolDevice(fuzz.agent);
    // A successful enrolment always leaves an id to form later paths with.
    if (enrolled && fuzz.agent.settings.id == 0) __builtin_trap();
    if (enrolled && status != 200) __builtin_trap();
    if (enrolled && !IsHeaderToken(fuzz.agent.accessToken)) __builtin_trap();

    fuzz.Reset();
    fuzz.internet.Script(status, body);
    if (lumivo::LoginDevice(fuzz.agent, 7, "pw") && !IsHeaderToken(fuzz.agent.accessToken)) {
        __builtin_trap();
    }

    lumivo::ReportRequestError(fuzz.agent, status, body);
    return 0;
}
