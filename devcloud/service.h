#pragma once
// The HTTP routes: the six device calls (served in process behind the TLS
// front) and the operator's interface (its own plain listener).

#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace lumivo::devcloud {

class Store;
class WireRecorder;
struct LoggedRequest;

struct DeviceSettings {
    std::string prefix = "/api/";  // the device calls' path prefix
    std::string enrolmentSecret;   // the "secretKey" of enrolment and login
};

struct OperatorSettings {
    std::string devicePrefix = "/api/";  // to tell which device a logged call is about
    // Every API request needs "Authorization: Bearer <token>".
    std::string token;
    // Where the operator side listens; a request must name it in "Host".
    std::string bindAddress = "127.0.0.1";
    int port = 0;
};

// The six device calls. The TLS front hands each request over as it parsed
// it; nothing else reaches them.
class DeviceService {
  public:
    DeviceService(Store& store, const DeviceSettings& settings);
    // The answer to one whole request: its status and JSON body.
    void Handle(const LoggedRequest& request, int& status, std::string& body) const;

  private:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
    struct Route {
        std::string method;
        std::regex path;
        Handler handler;
    };
    std::vector<Route> routes_;
};

// The settings must outlive the server: the port is filled in once bound.
void InstallOperatorRoutes(httplib::Server& server, Store& store, WireRecorder& recorder,
                           const OperatorSettings& settings);

// Milliseconds since the epoch, the clock of "last seen".
long long NowMs();
// Hex text of fresh random bytes: safe inside unencoded form bodies.
std::string RandomHex(int bytes);

}  // namespace lumivo::devcloud
