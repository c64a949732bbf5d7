#pragma once
// In-memory RasPort for unit tests. It keeps a phone book and a list of
// connections the way the platform does (a dial on a stored entry brings up a
// connection on the entry's device); a test can add other connections and
// script the result of any operation. Every call is recorded.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ras_port.h"

namespace lumivo {

class FakeRas : public RasPort {
  public:
    static constexpr unsigned rasConnected = 0x2000;  // RASCS_Connected

    struct Connection {
        RasConnHandle handle = nullptr;
        std::wstring deviceName;
    };
    struct StoredEntry {
        RasEntry entry;
        std::vector<std::uint8_t> deviceInfo;
    };

    std::map<std::wstring, StoredEntry> phoneBook;
    std::vector<Connection> connections;

    // Scripted results: when set, the operation gives it and changes nothing.
    std::optional<unsigned long> enumResult, statusResult, deleteResult, hangUpResult,
        setEntryResult, dialResult;
    // Runs after a dial that brought a connection up.
    std::function<void()> afterDial;

    std::vector<std::string> calls;  // operation names, in order
    std::vector<unsigned long> enumCapacities;
    std::vector<RasConnHandle> statusAsked, hungUp;
    std::vector<std::wstring> deleted;
    std::vector<std::pair<std::wstring, StoredEntry>> entriesSet;
    std::vector<RasDialParams> dials;

    RasConnHandle AddConnection(std::wstring deviceName) {
        RasConnHandle handle = reinterpret_cast<RasConnHandle>(nextHandle_++);
        connections.push_back({handle, std::move(deviceName)});
        return handle;
    }

    unsigned long RasEnumConnections(RasConn* list, unsigned long capacity,
                                     unsigned long& count) override {
        calls.push_back("RasEnumConnections");
        enumCapacities.push_back(capacity);
        if (enumResult) return *enumResult;
        count = static_cast<unsigned long>(connections.size());
        if (count > capacity) return errorBufferTooSmall;
        for (unsigned long i = 0; i < count; ++i) list[i].hrasconn = connections[i].handle;
        return 0;
    }

    unsigned long RasGetConnectStatus(RasConnHandle connection, RasConnStatus& status) override {
        calls.push_back("RasGetConnectStatus");
        statusAsked.push_back(connection);
        if (statusResult) return *statusResult;
        const Connection* found = Find(connection);
        if (found == nullptr) return errorInvalidHandle;
        status.rasconnstate = rasConnected;
        status.dwError = 0;
        status.szDeviceType = L"vpn";
        status.szDeviceName = found->deviceName;
        return 0;
    }

    unsigned long RasDeleteEntry(const std::wstring& entryName) override {
        calls.push_back("RasDeleteEntry");
        deleted.push_back(entryName);
        if (deleteResult) return *deleteResult;
        return phoneBook.erase(entryName) == 1 ? 0 : errorFileNotFound;
    }

    unsigned long RasHangUp(RasConnHandle connection) override {
        calls.push_back("RasHangUp");
        hungUp.push_back(connection);
        if (hangUpResult) return *hangUpResult;
        for (auto it = connections.begin(); it != connections.end(); ++it) {
            if (it->handle == connection) {
                connections.erase(it);
                return 0;
            }
        }
        return errorInvalidHandle;
    }

    unsigned long RasSetEntryProperties(const std::wstring& entryName, const RasEntry& entry,
                                        const std::vector<std::uint8_t>& deviceInfo) override {
        calls.push_back("RasSetEntryProperties");
        entriesSet.push_back({entryName, {entry, deviceInfo}});
        if (setEntryResult) return *setEntryResult;
        if (entryName.empty() || entryName.size() > rasMaxEntryName ||
            entry.szLocalPhoneNumber.size() > rasMaxPhoneNumber ||
            entry.szDeviceType.size() > rasMaxDeviceType ||
            entry.szDeviceName.size() > rasMaxDeviceName) {
            return errorInvalidParameter;
        }
        phoneBook[entryName] = {entry, deviceInfo};
        return 0;
    }

    unsigned long RasDial(const RasDialParams& params, RasConnHandle& connection) override {
        calls.push_back("RasDial");
        dials.push_back(params);
        if (dialResult) return *dialResult;
        if (params.szUserName.size() > rasMaxUserName ||
            params.szPassword.size() > rasMaxPassword || params.szDomain.size() > rasMaxDomain) {
            return errorInvalidParameter;
        }
        auto entry = phoneBook.find(params.szEntryName);
        if (entry == phoneBook.end()) return errorCannotFindPhonebookEntry;
        for (const Connection& up : connections) {
            if (up.deviceName == entry->second.entry.szDeviceName) return errorPortAlreadyOpen;
        }
        connection = AddConnection(entry->second.entry.szDeviceName);
        if (afterDial) afterDial();
        return 0;
    }

  private:
    const Connection* Find(RasConnHandle handle) const {
        for (const Connection& c : connections) {
            if (c.handle == handle) return &c;
        }
        return nullptr;
    }

    std::uintptr_t nextHandle_ = 0x1000;
};

}  // namespace lumivo
