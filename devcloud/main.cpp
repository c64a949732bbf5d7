// devcloud: a development stand-in for the cloud service. Device calls over
// HTTPS on loopback, an operator interface in plain HTTP on its own port,
// state in SQLite in the data folder.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>

#include <pthread.h>

#include <httplib.h>

#include "devcloud/certs.h"
#include "devcloud/service.h"
#include "devcloud/store.h"
#include "devcloud/wire.h"

namespace {

using namespace lumivo::devcloud;

const char* const usage =
    "usage: devcloud [options]\n"
    "  --port N               device side (HTTPS) port, default 8443, 0 picks a free one\n"
    "  --operator-port N      operator interface (HTTP) port, default 8444, 0 picks a free one\n"
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
    int operatorPort = 8444;
    std::string dataDir = "devcloud-data";
    std::string prefix = "/api/";
    CertOptions cert;
    TlsOptions tls;
};

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

    std::error_code ec;
    std::filesystem::create_directories(options.dataDir, ec);
    if (ec) return Fail("cannot create " + options.dataDir + ": " + ec.message());

    Store store;
    std::string error;
    if (!store.Open(options.dataDir + "/devcloud.db", error))
        return Fail("cannot open the database: " + error);
    std::string certFile, keyFile;
    if (!PrepareCertificate(options.dataDir, options.cert, certFile, keyFile, error))
        return Fail(error);

    WireRecorder recorder;
    httplib::Server deviceServer;  // reached only through the TLS front
    InstallDeviceRoutes(deviceServer, store, options.prefix);
    int internalPort = deviceServer.bind_to_any_port("127.0.0.1");
    if (internalPort <= 0) return Fail("cannot listen on 127.0.0.1 for the device calls");

    httplib::Server operatorServer;
    InstallOperatorRoutes(operatorServer, store, recorder);
    int operatorPort = options.operatorPort;
    if (operatorPort == 0) {
        operatorPort = operatorServer.bind_to_any_port("127.0.0.1");
    } else if (!operatorServer.bind_to_port("127.0.0.1", operatorPort)) {
        operatorPort = -1;
    }
    if (operatorPort <= 0)
        return Fail("cannot listen on 127.0.0.1:" + std::to_string(options.operatorPort));

    TlsFront front(recorder);
    if (!front.Start(options.port, certFile, keyFile, internalPort, options.tls, error))
        return Fail(error);

    std::thread deviceThread([&] { deviceServer.listen_after_bind(); });
    std::thread operatorThread([&] { operatorServer.listen_after_bind(); });

    std::cout << "devcloud listening on https://127.0.0.1:" << front.port() << options.prefix
              << " operator http://127.0.0.1:" << operatorPort << "/" << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);

    front.Stop();
    operatorServer.stop();
    deviceServer.stop();
    operatorThread.join();
    deviceThread.join();
    store.Close();
    return 0;
}
