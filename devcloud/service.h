#pragma once
// The HTTP routes: the six device calls (served behind the TLS front) and
// the operator's interface (its own plain listener on loopback).

#include <string>

namespace httplib {
class Server;
}

namespace lumivo::devcloud {

class Store;
class WireRecorder;

// Device calls under `prefix` (for example "/api/").
void InstallDeviceRoutes(httplib::Server& server, Store& store, const std::string& prefix);
void InstallOperatorRoutes(httplib::Server& server, Store& store, WireRecorder& recorder);

// Milliseconds since the epoch, the clock of "last seen".
long long NowMs();

}  // namespace lumivo::devcloud
