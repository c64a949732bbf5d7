// Fuzzes the handling of enrolment and login replies and of error reports:
// the first byte picks the status, the rest is the reply body.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cloud/enrolment.h"
#include "cloud/transport.h"
#include "fuzz_agent.h"

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

    fuzz.Reset();
    fuzz.internet.Script(status, body);
    lumivo::LoginDevice(fuzz.agent, 7, "pw");

    lumivo::ReportRequestError(fuzz.agent, status, body);
    return 0;
}
