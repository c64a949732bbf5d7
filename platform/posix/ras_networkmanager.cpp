#include "platform/posix/ras_networkmanager.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "base/console.h"
#include "base/constants.h"

#ifdef LUMIVO_HAVE_SYSTEMD
#include <dlfcn.h>
#include <sys/random.h>
#include <systemd/sd-bus.h>
#endif

namespace lumivo {

namespace {

constexpr unsigned rasConnected = 0x2000;  // RASCS_Connected

// NMVpnConnectionState values the backend acts on.
constexpr std::uint32_t vpnActivated = 5;
#ifdef LUMIVO_HAVE_SYSTEMD
constexpr std::uint32_t vpnFailed = 6;
constexpr std::uint32_t vpnDisconnected = 7;
#endif

// UTF-8, as D-Bus carries text, from the wide text of the RAS records.
std::string Utf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size() * 4);  // texts here may be secrets: no reallocation leaves a copy
    for (wchar_t w : text) {
        const std::uint32_t c = static_cast<std::uint32_t>(w);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Overwrites a secret's bytes before its memory goes back to the heap.
template <typename Text>
void Wipe(Text& secret) {
    volatile typename Text::value_type* p = secret.empty() ? nullptr : &secret[0];
    for (std::size_t i = 0; i < secret.size(); ++i) p[i] = 0;
    secret.clear();
}

std::uint32_t Word(const std::vector<std::uint8_t>& block, std::size_t index) {
    const std::size_t at = index * 4;
    return static_cast<std::uint32_t>(block[at]) | static_cast<std::uint32_t>(block[at + 1]) << 8 |
           static_cast<std::uint32_t>(block[at + 2]) << 16 |
           static_cast<std::uint32_t>(block[at + 3]) << 24;
}

}  // namespace

unsigned long RasErrorForVpnFailure(std::uint32_t reason) {
    switch (reason) {
        case 9:   // no secrets
        case 10:  // login failed: the server refused the user name or password
        // Unknown: the L2TP plugin only stops when PPP fails after IPsec and
        // L2TP are up, which is the server refusing the user or password
        // (its "E=691"); a failure before that comes as "service start failed".
        case 0:
            return errorAuthenticationFailure;
        case 6:  // connect time-out
        case 7:  // service start time-out
            return errorVpnNoAnswer;
        case 3:   // the device under the VPN went away
        case 4:   // the plugin stopped
        case 11:  // the profile was removed
            return errorPortNotAvailable;
        default:  // the plugin could not start: IPsec or L2TP negotiation failed
            return errorIpsecNegotiation;
    }
}

std::map<std::string, std::string> L2tpData(const RasEntry& entry, const RasDialParams& params) {
    // CHAP and MS-CHAP v2 have no "prohibit" bit in the entry: they stay allowed.
    const auto refuse = [&entry](std::uint32_t bit) {
        return (entry.dwfOptions & bit) != 0 ? "yes" : "no";
    };
    std::map<std::string, std::string> data = {
        {"gateway", Utf8(entry.szLocalPhoneNumber)},
        {"user", Utf8(params.szUserName)},
        {"password-flags", "0"},
        {"ipsec-enabled", "yes"},
        {"ipsec-psk-flags", "0"},
        {"refuse-pap", refuse(raseoProhibitPap)},
        {"refuse-mschap", refuse(raseoProhibitMsChap)},
        {"refuse-eap", refuse(raseoProhibitEap)},
        {"refuse-chap", "no"},
    };
    if (!params.szDomain.empty()) data["domain"] = Utf8(params.szDomain);
    return data;
}

std::wstring PresharedKeyFromBlock(const std::vector<std::uint8_t>& block) {
    if (block.size() < 32) return L"";
    const std::size_t bytes = Word(block, 3);
    const std::size_t offset = Word(block, 4);
    if (offset > block.size() || bytes > block.size() - offset || bytes % 2 != 0) return L"";
    std::wstring key;
    key.reserve(bytes / 2);  // no partial copies of the key left by a reallocation
    for (std::size_t i = offset; i < offset + bytes; i += 2) {
        unsigned long unit = block[i] | block[i + 1] << 8;
        // The block holds UTF-16: a surrogate pair is one character here.
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < offset + bytes) {
            const unsigned long low = block[i + 2] | block[i + 3] << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        key += static_cast<wchar_t>(unit);
    }
    return key;
}

#ifdef LUMIVO_HAVE_SYSTEMD

namespace {

constexpr char nmService[] = "org.freedesktop.NetworkManager";
constexpr char nmPath[] = "/org/freedesktop/NetworkManager";
constexpr char activeInterface[] = "org.freedesktop.NetworkManager.Connection.Active";
constexpr char vpnInterface[] = "org.freedesktop.NetworkManager.VPN.Connection";
constexpr char l2tpPluginName[] = "org.freedesktop.NetworkManager.l2tp";
constexpr std::uint64_t callTimeoutUsec = 30 * 1000 * 1000;

// The sd-bus calls the backend uses, from libsystemd loaded at the first dial.
struct SdBus {
    decltype(&sd_bus_open_system) open_system;
    decltype(&sd_bus_flush_close_unref) flush_close_unref;
    decltype(&sd_bus_message_new_method_call) new_method_call;
    decltype(&sd_bus_message_append) append;
    decltype(&sd_bus_message_open_container) open_container;
    decltype(&sd_bus_message_close_container) close_container;
    decltype(&sd_bus_call) call;
    decltype(&sd_bus_call_method) call_method;
    decltype(&sd_bus_get_property) get_property;
    decltype(&sd_bus_message_read) read;
    decltype(&sd_bus_message_enter_container) enter_container;
    decltype(&sd_bus_message_exit_container) exit_container;
    decltype(&sd_bus_message_unref) message_unref;
    decltype(&sd_bus_message_get_path) get_path;
    decltype(&sd_bus_error_free) error_free;
    decltype(&sd_bus_match_signal) match_signal;
    decltype(&sd_bus_slot_unref) slot_unref;
    decltype(&sd_bus_process) process;
    decltype(&sd_bus_wait) wait;
    // Optional (newer libsystemd): a message whose memory is wiped when freed,
    // and whether the connection is still open.
    decltype(&sd_bus_message_sensitive) sensitive;
    decltype(&sd_bus_is_open) is_open;
};

const SdBus* LoadSdBus() {
    static SdBus api;
    static const bool loaded = [] {
        void* library = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return false;
        bool all = true;
        const auto take = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                ::dlsym(library, name));
            all = all && function != nullptr;
        };
        take(api.open_system, "sd_bus_open_system");
        take(api.flush_close_unref, "sd_bus_flush_close_unref");
        take(api.new_method_call, "sd_bus_message_new_method_call");
        take(api.append, "sd_bus_message_append");
        take(api.open_container, "sd_bus_message_open_container");
        take(api.close_container, "sd_bus_message_close_container");
        take(api.call, "sd_bus_call");
        take(api.call_method, "sd_bus_call_method");
        take(api.get_property, "sd_bus_get_property");
        take(api.read, "sd_bus_message_read");
        take(api.enter_container, "sd_bus_message_enter_container");
        take(api.exit_container, "sd_bus_message_exit_container");
        take(api.message_unref, "sd_bus_message_unref");
        take(api.get_path, "sd_bus_message_get_path");
        take(api.error_free, "sd_bus_error_free");
        take(api.match_signal, "sd_bus_match_signal");
        take(api.slot_unref, "sd_bus_slot_unref");
        take(api.process, "sd_bus_process");
        take(api.wait, "sd_bus_wait");
        const bool required = all;
        take(api.sensitive, "sd_bus_message_sensitive");
        take(api.is_open, "sd_bus_is_open");
        return required;
    }();
    return loaded ? &api : nullptr;
}

struct VpnEvent {
    std::string path;
    std::uint32_t state;
    std::uint32_t reason;
};

}  // namespace

// The system bus, with a watch on every VPN connection's state changes that
// is in place before a dial starts, so that no change is missed.
struct RasNetworkManager::Bus {
    const SdBus* api = nullptr;
    sd_bus* bus = nullptr;
    sd_bus_slot* watch = nullptr;
    std::vector<VpnEvent> events;

    static Bus* Open() {
        const SdBus* api = LoadSdBus();
        if (api == nullptr) {
            LogError("NetworkManager: libsystemd.so.0 cannot be loaded");
            return nullptr;
        }
        Bus* b = new Bus;
        b->api = api;
        int r = api->open_system(&b->bus);
        if (r >= 0) {
            r = api->match_signal(b->bus, &b->watch, nmService, nullptr, vpnInterface,
                                  "VpnStateChanged", &Bus::OnVpnState, b);
        }
        if (r < 0) {
            LogError("NetworkManager: the system bus cannot be reached");
            delete b;
            return nullptr;
        }
        return b;
    }

    ~Bus() {
        if (watch != nullptr) api->slot_unref(watch);
        if (bus != nullptr) api->flush_close_unref(bus);
    }

    static int OnVpnState(sd_bus_message* message, void* self, sd_bus_error*) {
        Bus* b = static_cast<Bus*>(self);
        std::uint32_t state = 0;
        std::uint32_t reason = 0;
        const char* path = b->api->get_path(message);
        if (path != nullptr && b->api->read(message, "uu", &state, &reason) >= 0) {
            b->events.push_back({path, state, reason});
        }
        return 0;
    }

    // Handles what has arrived, then waits up to `usec` for more.
    void Pump(std::uint64_t usec) {
        while (api->process(bus, nullptr) > 0) {
        }
        if (usec > 0) {
            api->wait(bus, usec);
            while (api->process(bus, nullptr) > 0) {
            }
        }
    }

    void Report(const char* what, const sd_bus_error& error) {
        LogError(std::string("NetworkManager: ") + what + ": " +
                 (error.name != nullptr ? error.name : "no answer") +
                 (error.message != nullptr ? std::string(" (") + error.message + ")" : ""));
    }

    // A property of type "o" or "s".
    bool TextProperty(const std::string& path, const char* interface, const char* name,
                      const char* type, std::string& out) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        bool ok = api->get_property(bus, nmService, path.c_str(), interface, name, &error, &reply,
                                    type) >= 0;
        const char* text = nullptr;
        ok = ok && api->read(reply, type, &text) >= 0 && text != nullptr;
        if (ok) out = text;
        api->message_unref(reply);
        api->error_free(&error);
        return ok;
    }

    // The VPN state of an active connection; false when it is gone.
    // The VPN state of an active connection. When it cannot be read, `gone`
    // tells whether that is because the connection (or NetworkManager) is
    // gone, rather than a busy service or a broken bus, which say nothing.
    bool VpnState(const std::string& path, std::uint32_t& state, bool* gone = nullptr) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        bool ok = api->get_property(bus, nmService, path.c_str(), vpnInterface, "VpnState", &error,
                                    &reply, "u") >= 0 &&
                  api->read(reply, "u", &state) >= 0;
        if (gone != nullptr) {
            static const char* const goneErrors[] = {
                "org.freedesktop.DBus.Error.UnknownObject", "org.freedesktop.DBus.Error.UnknownMethod",
                "org.freedesktop.DBus.Error.UnknownInterface",
                "org.freedesktop.DBus.Error.ServiceUnknown",
                "org.freedesktop.DBus.Error.NameHasNoOwner"};
            *gone = false;
            for (const char* name : goneErrors) {
                *gone = *gone || (!ok && error.name != nullptr && std::strcmp(error.name, name) == 0);
            }
        }
        api->message_unref(reply);
        api->error_free(&error);
        return ok;
    }

    bool IsOpen() const { return api->is_open == nullptr || api->is_open(bus) > 0; }

    // Calls a method whose arguments are all object paths; true when it answered.
    bool CallWithPath(const char* path, const char* interface, const char* method,
                      const std::string& argument, const char* what) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        const int r = argument.empty()
                          ? api->call_method(bus, nmService, path, interface, method, &error,
                                             &reply, "")
                          : api->call_method(bus, nmService, path, interface, method, &error,
                                             &reply, "o", argument.c_str());
        if (r < 0 && what != nullptr) Report(what, error);
        api->message_unref(reply);
        api->error_free(&error);
        return r >= 0;
    }

    // Waits until the active connection at `path` has ended, up to `seconds`.
    bool WaitForEnd(const std::string& path, int seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            for (const VpnEvent& e : events) {
                if (e.path == path && (e.state == vpnFailed || e.state == vpnDisconnected)) {
                    return true;
                }
            }
            std::uint32_t state = 0;
            bool gone = false;
            if (VpnState(path, state, &gone) ? state >= vpnFailed : gone) return true;
            Pump(500 * 1000);
        }
        return false;
    }

    // Takes down an active connection and waits for the end of it, up to
    // `seconds`; false when it cannot be told to have ended.
    bool Deactivate(const std::string& path, int seconds = 25) {
        std::uint32_t state = 0;
        bool gone = false;
        if (VpnState(path, state, &gone) ? state >= vpnFailed : gone) return true;  // ended
        if (!CallWithPath(nmPath, nmService, "DeactivateConnection", path,
                          "the VPN cannot be taken down")) {
            return !VpnState(path, state, &gone) && gone;  // gone meanwhile counts as down
        }
        return WaitForEnd(path, seconds);
    }

    // Waits until the L2TP plugin of a failed attempt has left the bus (it
    // ends itself once its connection is gone), up to `seconds`: a new start
    // needs a fresh one.
    bool WaitForPluginGone(int seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            sd_bus_error error = SD_BUS_ERROR_NULL;
            sd_bus_message* reply = nullptr;
            int owned = 0;
            const bool asked = api->call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "NameHasOwner", &error,
                                                &reply, "s", l2tpPluginName) >= 0 &&
                               api->read(reply, "b", &owned) >= 0;
            api->message_unref(reply);
            api->error_free(&error);
            if (!asked || !owned) return true;
            Pump(500 * 1000);
        }
        return false;
    }

    // Takes down what an earlier run of the agent left up under the profile name.
    void DeactivateLeftovers(const std::string& id) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        std::vector<std::string> paths;
        if (api->get_property(bus, nmService, nmPath, nmService, "ActiveConnections", &error,
                              &reply, "ao") >= 0 &&
            api->enter_container(reply, 'a', "o") >= 0) {
            const char* path = nullptr;
            while (api->read(reply, "o", &path) > 0) paths.push_back(path);
        }
        api->message_unref(reply);
        api->error_free(&error);
        for (const std::string& path : paths) {
            std::string name;
            if (TextProperty(path, activeInterface, "Id", "s", name) && name == id) {
                Deactivate(path);
            }
        }
    }

    // AddAndActivateConnection2 with a volatile profile: NetworkManager keeps
    // it in memory only and forgets it when the connection ends. The secrets
    // travel in the message, never on a command line or in a file of ours.
    bool AddAndActivate(const std::string& id, const std::map<std::string, std::string>& data,
                        const std::map<std::string, std::string>& secrets, std::string& profile,
                        std::string& active, bool& refused) {
        // A random (version 4) UUID; the service's sandbox hides /proc/sys.
        unsigned char random[16] = {};
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            for (unsigned char& byte : random) byte = static_cast<unsigned char>(std::rand());
        }
        random[6] = static_cast<unsigned char>((random[6] & 0x0F) | 0x40);
        random[8] = static_cast<unsigned char>((random[8] & 0x3F) | 0x80);
        char uuid[40];
        std::snprintf(uuid, sizeof uuid,
                      "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                      random[0], random[1], random[2], random[3], random[4], random[5], random[6],
                      random[7], random[8], random[9], random[10], random[11], random[12],
                      random[13], random[14], random[15]);
        sd_bus_message* m = nullptr;
        int r = api->new_method_call(bus, &m, nmService, nmPath, nmService,
                                     "AddAndActivateConnection2");
        // The message carries the password and the key: wiped when freed.
        if (r >= 0 && api->sensitive != nullptr) api->sensitive(m);
        const auto ok = [&r](int result) {
            if (r >= 0) r = result;
        };
        const auto beginSetting = [&](const char* name) {
            ok(api->open_container(m, 'e', "sa{sv}"));
            ok(api->append(m, "s", name));
            ok(api->open_container(m, 'a', "{sv}"));
        };
        const auto endSetting = [&] {
            ok(api->close_container(m));
            ok(api->close_container(m));
        };
        const auto text = [&](const char* key, const std::string& value) {
            ok(api->append(m, "{sv}", key, "s", value.c_str()));
        };
        const auto dictionary = [&](const char* key, const std::map<std::string, std::string>& d) {
            ok(api->open_container(m, 'e', "sv"));
            ok(api->append(m, "s", key));
            ok(api->open_container(m, 'v', "a{ss}"));
            ok(api->open_container(m, 'a', "{ss}"));
            for (const auto& [k, v] : d) ok(api->append(m, "{ss}", k.c_str(), v.c_str()));
            ok(api->close_container(m));
            ok(api->close_container(m));
            ok(api->close_container(m));
        };
        if (r >= 0) {
            ok(api->open_container(m, 'a', "{sa{sv}}"));
            beginSetting("connection");
            text("id", id);
            text("uuid", uuid);
            text("type", "vpn");
            ok(api->append(m, "{sv}", "autoconnect", "b", 0));
            endSetting();
            beginSetting("vpn");
            text("service-type", "org.freedesktop.NetworkManager.l2tp");
            dictionary("data", data);
            dictionary("secrets", secrets);
            endSetting();
            // The tunnel carries the server's network, not the device's
            // default route: the agent's own link to its service stays as it is.
            beginSetting("ipv4");
            text("method", "auto");
            ok(api->append(m, "{sv}", "never-default", "b", 1));
            endSetting();
            beginSetting("ipv6");
            text("method", "ignore");
            endSetting();
            ok(api->close_container(m));
            ok(api->append(m, "oo", "/", "/"));
            ok(api->append(m, "a{sv}", 2, "persist", "s", "volatile", "bind-activation", "s",
                           "none"));
        }
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        refused = r < 0;  // the record could not be built: a parameter D-Bus cannot carry
        if (r >= 0) {
            r = api->call(bus, m, callTimeoutUsec, &error, &reply);
            if (r < 0) Report("the VPN cannot be started", error);
        }
        const char* profilePath = nullptr;
        const char* activePath = nullptr;
        if (r >= 0 && api->read(reply, "oo", &profilePath, &activePath) >= 0) {
            profile = profilePath;
            active = activePath;
        } else {
            r = r < 0 ? r : -1;
        }
        api->message_unref(reply);
        api->message_unref(m);
        api->error_free(&error);
        return r >= 0;
    }

    // The first IPv4 address of an active connection, dotted, or "".
    std::string Address(const std::string& active) {
        std::string config;
        if (!TextProperty(active, activeInterface, "Ip4Config", "o", config) || config == "/") {
            return "";
        }
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        std::string dotted;
        if (api->get_property(bus, nmService, config.c_str(),
                              "org.freedesktop.NetworkManager.IP4Config", "Addresses", &error,
                              &reply, "aau") >= 0 &&
            api->enter_container(reply, 'a', "au") >= 0 &&
            api->enter_container(reply, 'a', "u") > 0) {
            std::uint32_t address = 0;  // network byte order
            if (api->read(reply, "u", &address) > 0) {
                const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
                dotted = std::to_string(b[0]) + "." + std::to_string(b[1]) + "." +
                         std::to_string(b[2]) + "." + std::to_string(b[3]);
            }
        }
        api->message_unref(reply);
        api->error_free(&error);
        return dotted;
    }
};

#else  // no libsystemd headers: no D-Bus, so no VPN stack to drive

struct RasNetworkManager::Bus {
    static Bus* Open() {
        LogError("NetworkManager: this build has no D-Bus client");
        return nullptr;
    }
    std::string Address(const std::string&) { return ""; }
    bool VpnState(const std::string&, std::uint32_t&, bool* gone = nullptr) {
        if (gone != nullptr) *gone = true;
        return false;
    }
    bool Deactivate(const std::string&, int = 25) { return true; }
    bool CallWithPath(const char*, const char*, const char*, const std::string&, const char*) {
        return false;
    }
};

#endif

RasNetworkManager::~RasNetworkManager() { delete bus_; }

void RasNetworkManager::ForgetConnection() {
    activePath_.clear();
    profilePath_.clear();
    tunnelAddress_.clear();
    handle_ = 0;
}

bool RasNetworkManager::Connected() {
    if (activePath_.empty() || bus_ == nullptr) return false;
    std::uint32_t state = 0;
    bool gone = false;
    // A state that cannot be read, with the connection not known to be gone,
    // keeps it: a busy NetworkManager is no proof that the tunnel is down.
    if (bus_->VpnState(activePath_, state, &gone) ? state <= vpnActivated : !gone) return true;
    ForgetConnection();
    return false;
}

unsigned long RasNetworkManager::RasEnumConnections(RasConn* connections, unsigned long capacity,
                                                    unsigned long& count) {
    count = Connected() ? 1 : 0;
    if (count > capacity) return errorBufferTooSmall;
    if (count == 1) connections[0].hrasconn = reinterpret_cast<RasConnHandle>(handle_);
    return 0;
}

unsigned long RasNetworkManager::RasGetConnectStatus(RasConnHandle connection,
                                                     RasConnStatus& status) {
    if (connection != reinterpret_cast<RasConnHandle>(handle_) || !Connected()) {
        return errorInvalidHandle;
    }
    status.rasconnstate = rasConnected;
    status.dwError = 0;
    status.szDeviceType = L"vpn";
    status.szDeviceName = vpnDeviceName;
    return 0;
}

unsigned long RasNetworkManager::RasDeleteEntry(const std::wstring& entryName) {
    const auto found = phoneBook_.find(entryName);
    if (found == phoneBook_.end()) return errorFileNotFound;
    Wipe(found->second.presharedKey);
    phoneBook_.erase(found);
    return 0;
}

unsigned long RasNetworkManager::RasHangUp(RasConnHandle connection) {
    if (connection != reinterpret_cast<RasConnHandle>(handle_) || !Connected()) {
        return errorInvalidHandle;
    }
    if (!bus_->Deactivate(activePath_)) return errorPortNotAvailable;
    // A volatile profile goes with its connection; this covers a NetworkManager
    // that kept it.
    bus_->CallWithPath(profilePath_.c_str(), "org.freedesktop.NetworkManager.Settings.Connection",
                       "Delete", "", nullptr);
    ForgetConnection();
    return 0;
}

unsigned long RasNetworkManager::RasSetEntryProperties(const std::wstring& entryName,
                                                       const RasEntry& entry,
                                                       const std::vector<std::uint8_t>& block) {
    if (entryName.empty() || entryName.size() > rasMaxEntryName ||
        entry.szLocalPhoneNumber.empty() || entry.szLocalPhoneNumber.size() > rasMaxPhoneNumber ||
        entry.szDeviceType.size() > rasMaxDeviceType ||
        entry.szDeviceName.size() > rasMaxDeviceName) {
        return errorInvalidParameter;
    }
    Entry& stored = phoneBook_[entryName];
    Wipe(stored.presharedKey);
    stored = Entry{entry, PresharedKeyFromBlock(block)};
    return 0;
}

unsigned long RasNetworkManager::RasDial(const RasDialParams& params, RasConnHandle& connection) {
    if (params.szUserName.size() > rasMaxUserName || params.szPassword.size() > rasMaxPassword ||
        params.szDomain.size() > rasMaxDomain) {
        return errorInvalidParameter;
    }
    const auto found = phoneBook_.find(params.szEntryName);
    if (found == phoneBook_.end()) return errorCannotFindPhonebookEntry;
    if (found->second.entry.szDeviceName != vpnDeviceName) return errorPortNotAvailable;
    if (Connected()) return errorPortAlreadyOpen;
#ifdef LUMIVO_HAVE_SYSTEMD
    if (bus_ != nullptr && !bus_->IsOpen()) {  // the system bus restarted
        delete bus_;
        bus_ = nullptr;
    }
#endif
    if (bus_ == nullptr) bus_ = Bus::Open();
    if (bus_ == nullptr) return errorPortNotAvailable;

#ifdef LUMIVO_HAVE_SYSTEMD
    const auto deadline = std::chrono::steady_clock::now() + dialDeadline_;
    const std::string id = Utf8(params.szEntryName);
    bus_->DeactivateLeftovers(id);
    bus_->events.clear();

    std::map<std::string, std::string> secrets;  // moved in: no copies left unwiped
    secrets["password"] = Utf8(params.szPassword);
    secrets["ipsec-psk"] = Utf8(found->second.presharedKey);
    const std::map<std::string, std::string> data = L2tpData(found->second.entry, params);
    // The plugin gives IPsec and L2TP a short window of their own; on a slow
    // or busy device that window can pass before the server answers, so a
    // failed start is tried again while the dial's deadline leaves room.
    const auto retryRoom = std::chrono::seconds(25);
    unsigned long result = errorVpnNoAnswer;
    handle_ = nextHandle_++;
    connection = reinterpret_cast<RasConnHandle>(handle_);
    while (true) {
        bus_->events.clear();
        bool refused = false;
        if (!bus_->AddAndActivate(id, data, secrets, profilePath_, activePath_, refused)) {
            result = refused ? errorInvalidParameter : errorPortNotAvailable;
            break;
        }
        std::uint32_t reason = 0;
        result = WaitForDial(deadline, reason);
        if (result == 0) break;
        // Past the deadline the take-down is asked for, not waited for long;
        // what is left is taken down by the next dial.
        bus_->Deactivate(activePath_, result == errorVpnNoAnswer ? 5 : 25);
        activePath_.clear();
        const bool startFailed = reason == 8;  // NM_VPN_CONNECTION_STATE_REASON_SERVICE_START_FAILED
        if (!startFailed || deadline - std::chrono::steady_clock::now() < retryRoom) break;
        // The plugin goes on with IPsec after the failure; a start made
        // before it has left would be handed to it and fail as well.
        if (!bus_->WaitForPluginGone(25) ||
            deadline - std::chrono::steady_clock::now() < retryRoom) {
            break;
        }
    }
    for (auto& secret : secrets) Wipe(secret.second);
    if (result != 0) {
        ForgetConnection();
        return result;
    }
    tunnelAddress_ = bus_->Address(activePath_);
    return 0;
#else
    (void)connection;
    return errorPortNotAvailable;
#endif
}

#ifdef LUMIVO_HAVE_SYSTEMD
// Waits for the outcome of the activation at activePath_: 0 when it is up, or
// the RAS error of its failure (NetworkManager's reason in `reason`).
unsigned long RasNetworkManager::WaitForDial(std::chrono::steady_clock::time_point deadline,
                                             std::uint32_t& reason) {
    bool gone = false;
    while (std::chrono::steady_clock::now() < deadline) {
        for (const VpnEvent& e : bus_->events) {
            if (e.path != activePath_) continue;
            if (e.state == vpnActivated) return 0;
            if (e.state == vpnFailed || e.state == vpnDisconnected) {
                reason = e.reason;
                LogError("NetworkManager: the VPN failed, reason " + std::to_string(e.reason));
                return RasErrorForVpnFailure(e.reason);
            }
        }
        bus_->events.clear();
        if (gone) {
            LogError("NetworkManager: the VPN went away without a reason");
            return errorIpsecNegotiation;
        }
        std::uint32_t state = 0;
        if (!bus_->VpnState(activePath_, state, &gone)) {
            // The connection's object can go before its last signal, which
            // says why, has been read: read what is queued, then decide.
            bus_->Pump(gone ? 0 : 500 * 1000);
            continue;
        }
        if (state == vpnActivated) return 0;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        bus_->Pump(static_cast<std::uint64_t>(
            std::max<long long>(0, std::min<long long>(left.count(), 1000 * 1000))));
    }
    return errorVpnNoAnswer;
}
#endif

std::string RasNetworkManager::TunnelAddress() {
    if (tunnelAddress_.empty() && !activePath_.empty() && bus_ != nullptr) {
        tunnelAddress_ = bus_->Address(activePath_);
    }
    return tunnelAddress_;
}

void RasNetworkManager::ShowVpnAdapter(AdapterList& adapters) {
    if (activePath_.empty()) return;
    const std::string address = TunnelAddress();
    if (address.empty()) return;
    for (AdapterInfo& adapter : adapters) {
        for (const IpAddrString& entry : adapter.ipAddressList) {
            if (entry.ipAddress == address) adapter.adapterName = "L2TP Line 0";
        }
    }
}

}  // namespace lumivo
