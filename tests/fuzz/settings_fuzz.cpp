// Fuzzes the settings file reader: any bytes as "\BOOT\env.json", then one
// sign-in that logs in or enrols against a service that answers 200.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/sign_in.h"
#include "base/constants.h"
#include "fuzz_agent.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& fuzz = lumivo::fuzz::Shared();
    fuzz.Reset();
    fuzz.files.SetContent(lumivo::settingsFilePath,
                          std::string(reinterpret_cast<const char*>(data), size));
    fuzz.internet.Script(200, R"({"id":5,"password":"p","token":"t"})");
    lumivo::LoadSettingsAndSignIn(fuzz.agent, lumivo::notSet, lumivo::notSet, lumivo::notSet);
    // Whatever was read, a signed-in device has an identity to log in with.
    if (fuzz.agent.settings.id == 0 || fuzz.agent.settings.password.empty()) __builtin_trap();
    return 0;
}
