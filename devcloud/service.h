#pragma once
// The HTTP routes: the six device calls (served behind the TLS front) and
// the operator's interface (its own plain listener).

#include <string>

namespace httplib {
class Server;
}

namespace lumivo::devcloud {

class Store;
class WireRecorder;

struct DeviceSettings {
    std::string prefix = "/api/";  // the device calls' path prefix
    std::string enrolmentSecret;   // the "secretKey" of enrolment and login
};

struct OperatorSettings {
    std::string devicePrefix = "/api/";  // to tell which device a logged call is about
    // Non-empty: every request needs "Authorization: Bearer <token>".
    std::string token;
};

void InstallDeviceRoutes(httplib::Server& server, Store& store, const DeviceSettings& settings);
void InstallOperatorRoutes(httplib::Server& server, Store& store, WireRecorder& recorder,
                           const OperatorSettings& settings);

// Milliseconds since the epoch, the clock of "last seen".
long long NowMs();
// Hex text of fresh random bytes: safe inside unencoded form bodies.
std::string RandomHex(int bytes);

}  // namespace lumivo::devcloud
