// devcloud: a development stand-in for the cloud service. Device calls over
// HTTPS (loopback unless told otherwise), an operator interface in plain
// HTTP on its own port, state in SQLite in the data folder.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <pthread.h>
#include <unistd.h>

#include <httplib.h>

#include "devcloud/certs.h"
#include "devcloud/handles.h"
#include "devcloud/service.h"
#include "devcloud/store.h"
#include "devcloud/wire.h"

namespace {

using namespace lumivo::devcloud;

// The secret the devices enrol and log in with, unless told another.
const char* const defaultEnrolmentSecret = "v61947.02";
const char* const operatorTokenFile = "operator-token";

const char* const usage =
    "usage: devcloud [options]\n"
    "  --port N               device side (HTTPS) port, default 8443, 0 picks a free one\n"
    "  --bind ADDR            device side address, IPv4 or IPv6, repeatable;\n"
    "                         default 127.0.0.1 and ::1\n"
    "  --operator-port N      operator interface (HTTP) port, default 8444, 0 picks a free one\n"
    "  --operator-bind ADDR   operator interface address, default 127.0.0.1; every API\n"
    "                         request needs the token printed at start\n"
    "  --enrolment-secret S   the devices' enrolment secret, default v61947.02\n"
    "  --max-connections N    device connections served at once, default 64; more get 503\n"
    "  --max-connections-per-address N\n"
    "                         device connections one peer address may hold, default 16\n"
    "  --data-dir DIR         state, key and certificates, default ./devcloud-data\n"
    "  --prefix PATH          path prefix of the device calls, default /api/\n"
    "  --cert-host NAME       serve a certificate issued for NAME instead of localhost\n"
    "  --cert-expired         serve a certificate that has expired\n"
    "  --cert-bad-signature   serve a certificate whose signature does not verify\n"
    "  --cert-purpose client  serve a certificate meant for client authentication only\n"
    "  --tls-legacy           also accept TLS 1.0 and 1.1 (older device TLS stacks)\n"
    "  --tls-no-resumed-ticket  send no new session ticket on a resumed connection\n"
    "  --tls-stateful-tickets   keep TLS sessions here; tickets only name them\n";

struct Options {
    int port = 8443;
    std::vector<std::string> bind;
    int operatorPort = 8444;
    std::string operatorBind = "127.0.0.1";
    std::string dataDir = "devcloud-data";
    std::string prefix = "/api/";
    CertOptions cert;
    TlsOptions tls;
    std::string enrolmentSecret = defaultEnrolmentSecret;
    int maxConnections = 64;
    int maxConnectionsPerAddress = 16;
};

// "[::1]" is taken as "::1"; false when it is no numeric address.
bool ParseAddress(std::string text, std::string& out) {
    if (text.size() > 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    if (!IsNumericAddress(text)) return false;
    out = text;
    return true;
}

bool ParsePort(const std::string& text, int& port) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
}

// False with a message on stderr for anything not understood.
bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--port" || arg == "--operator-port") {
            int& port = arg == "--port" ? options.port : options.operatorPort;
            if (!value(text) || !ParsePort(text, port)) {
                std::cerr << "devcloud: " << arg << " needs a port number 0-65535\n";
                return false;
            }
        } else if (arg == "--bind" || arg == "--operator-bind") {
            std::string address;
            if (!value(text) || !ParseAddress(text, address)) {
                std::cerr << "devcloud: " << arg << " needs an IPv4 or IPv6 address\n";
                return false;
            }
            if (arg == "--bind")
                options.bind.push_back(address);
            else
                options.operatorBind = address;
        } else if (arg == "--enrolment-secret") {
            if (!value(options.enrolmentSecret) || options.enrolmentSecret.empty()) {
                std::cerr << "devcloud: --enrolment-secret needs a text\n";
                return false;
            }
        } else if (arg == "--max-connections" || arg == "--max-connections-per-address") {
            char* end = nullptr;
            long n = value(text) ? std::strtol(text.c_str(), &end, 10) : 0;
            if (text.empty() || *end != '\0' || n < 1 || n > 10000) {
                std::cerr << "devcloud: " << arg << " needs a number 1-10000\n";
                return false;
            }
            (arg == "--max-connections" ? options.maxConnections
                                        : options.maxConnectionsPerAddress) = static_cast<int>(n);
        } else if (arg == "--data-dir") {
            if (!value(options.dataDir) || options.dataDir.empty()) {
                std::cerr << "devcloud: --data-dir needs a folder\n";
                return false;
            }
        } else if (arg == "--prefix") {
            if (!value(options.prefix) || options.prefix.front() != '/' ||
                options.prefix.back() != '/') {
                std::cerr << "devcloud: --prefix needs a path that starts and ends with /\n";
                return false;
            }
        } else if (arg == "--cert-host") {
            if (!value(options.cert.host) || options.cert.host.empty()) {
                std::cerr << "devcloud: --cert-host needs a host name\n";
                return false;
            }
        } else if (arg == "--cert-expired") {
            options.cert.expired = true;
        } else if (arg == "--cert-bad-signature") {
            options.cert.badSignature = true;
        } else if (arg == "--cert-purpose") {
            if (!value(text) || (text != "client" && text != "server")) {
                std::cerr << "devcloud: --cert-purpose takes client or server\n";
                return false;
            }
            options.cert.clientPurpose = text == "client";
        } else if (arg == "--tls-legacy") {
            options.tls.legacy = true;
        } else if (arg == "--tls-no-resumed-ticket") {
            options.tls.noResumedTicket = true;
        } else if (arg == "--tls-stateful-tickets") {
            options.tls.statefulTickets = true;
        } else if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            std::exit(0);
        } else {
            std::cerr << "devcloud: unknown option " << arg << "\n" << usage;
            return false;
        }
    }
    return true;
}

int Fail(const std::string& message) {
    std::cerr << "devcloud: " << message << "\n";
    return 1;
}

// A new file readable by its owner only, never written through a file or a
// link someone left in its place.
bool WriteOwnerOnly(const std::string& path, const std::string& text, std::string& error) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
        return false;
    }
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd || ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        ::fsync(fd.get()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) return 2;

    // The signals are taken by sigwait below; every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // Device passwords, tokens and the key: for the operator's eyes only,
    // whatever umask devcloud was started with.
    ::umask(077);
    std::error_code ec;
    std::filesystem::create_directories(options.dataDir, ec);
    if (ec) return Fail("cannot create " + options.dataDir + ": " + ec.message());
    if (::chmod(options.dataDir.c_str(), 0700) != 0)
        return Fail("cannot make " + options.dataDir + " owner-only: " + std::strerror(errno));
    // Files an earlier version left readable to others.
    for (const char* name : {"devcloud.db", "devcloud.db-wal", "devcloud.db-shm", "key.pem"})
        ::chmod((options.dataDir + "/" + name).c_str(), 0600);

    Store store;
    std::string error;
    if (!store.Open(options.dataDir + "/devcloud.db", error))
        return Fail("cannot open the database: " + error);
    std::string certFile, keyFile;
    if (!PrepareCertificate(options.dataDir, options.cert, certFile, keyFile, error))
        return Fail(error);

    // The operator side always needs a token, new at each start.
    OperatorSettings operatorSettings;
    operatorSettings.devicePrefix = options.prefix;
    operatorSettings.bindAddress = options.operatorBind;
    operatorSettings.token = RandomHex(24);
    const std::string tokenPath = options.dataDir + "/" + operatorTokenFile;
    if (!WriteOwnerOnly(tokenPath, operatorSettings.token + "\n", error)) return Fail(error);
    const std::string& operatorHost = options.operatorBind;

    WireRecorder recorder;
    const DeviceService deviceService(store, {options.prefix, options.enrolmentSecret});

    httplib::Server operatorServer;
    // SO_REUSEADDR only: a second service on a port in use must fail, not
    // share it.
    operatorServer.set_socket_options([](int fd) {
        int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    InstallOperatorRoutes(operatorServer, store, recorder, operatorSettings);
    int operatorPort = options.operatorPort;
    errno = 0;
    if (operatorPort == 0) {
        operatorPort = operatorServer.bind_to_any_port(operatorHost.c_str());
    } else if (!operatorServer.bind_to_port(operatorHost.c_str(), operatorPort)) {
        operatorPort = -1;
    }
    if (operatorPort <= 0)
        return Fail("cannot listen on " + UrlHost(operatorHost) + ":" +
                    std::to_string(options.operatorPort) +
                    (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()));
    operatorSettings.port = operatorPort;

    FrontOptions frontOptions;
    frontOptions.addresses = options.bind;
    frontOptions.port = options.port;
    frontOptions.certFile = certFile;
    frontOptions.keyFile = keyFile;
    frontOptions.handler = [&deviceService](const LoggedRequest& request, int& status,
                                            std::string& body) {
        deviceService.Handle(request, status, body);
    };
    frontOptions.tls = options.tls;
    frontOptions.maxConnections = options.maxConnections;
    frontOptions.maxConnectionsPerAddress = options.maxConnectionsPerAddress;
    TlsFront front(recorder);
    if (!front.Start(frontOptions, error)) return Fail(error);

    std::thread operatorThread([&] { operatorServer.listen_after_bind(); });

    const std::string deviceHost = options.bind.empty() ? "127.0.0.1" : options.bind.front();
    const std::string operatorUrl =
        "http://" + UrlHost(operatorHost) + ":" + std::to_string(operatorPort) + "/";
    std::cout << "devcloud listening on https://" << UrlHost(deviceHost) << ":" << front.port()
              << options.prefix << " operator " << operatorUrl << std::endl;
    std::cout << "devcloud console " << operatorUrl << "?token=" << operatorSettings.token
              << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);

    front.Stop();
    operatorServer.stop();
    operatorThread.join();
    store.Close();
    return 0;
}
