#pragma once
// The service's lasting state (devices, tokens, connection requests) in one
// SQLite database. Every call is serialised by one mutex: the device side and
// the operator side call it from their own threads.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

namespace lumivo::devcloud {

struct Device {
    int id = 0;
    std::string password;
    std::string typeCode;
    std::string version;
    std::string connectionsPassword;
    std::int64_t lastSeenMs = 0;   // 0: never seen
    std::int64_t enrolledMs = 0;   // 0: enrolled before this was kept
    std::int64_t lastLoginMs = 0;  // 0: never logged in since enrolment
    std::int64_t lastPollMs = 0;   // 0: never asked for its connection requests
};

struct Request {
    int id = 0;
    int deviceId = 0;
    std::string type;
    std::string status;  // "request", "vpn-created", "error" or "ended"
    std::string data;
    bool answered = false;
    std::string answerStatus;
    std::string answerData;
    std::int64_t createdMs = 0;  // 0: made before this was kept
    std::int64_t changedMs = 0;  // the last change of status (or the creation)
};

class Store {
  public:
    Store() = default;
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens (or creates) the database file; false with a message on failure.
    bool Open(const std::string& path, std::string& error);
    void Close();

    // New device with its issued password; its id, or 0 on failure.
    int AddDevice(const std::string& password, const std::string& typeCode,
                  const std::string& version, std::int64_t enrolledMs);
    bool FindDevice(int id, Device& out);
    std::vector<Device> Devices();
    bool SetDeviceVersion(int id, const std::string& version);
    bool SetLastSeen(int id, std::int64_t ms);
    bool SetLastLogin(int id, std::int64_t ms);
    bool SetLastPoll(int id, std::int64_t ms);
    bool SetConnectionsPassword(int id, const std::string& password);
    // The device goes (its requests end, its tokens stop working); its id is
    // never given again. False when there is no such device.
    bool DeleteDevice(int id);

    bool AddToken(const std::string& token, int deviceId);
    // The device the token was issued to, or 0.
    int DeviceForToken(const std::string& token);

    // New request; its id, or 0 on failure.
    int AddRequest(int deviceId, const std::string& type, const std::string& status,
                   const std::string& data);
    bool FindRequest(int id, Request& out);
    std::vector<Request> Requests();
    // The device's requests still in "request" or "vpn-created".
    std::vector<Request> OpenRequests(int deviceId);
    bool AnswerRequest(int id, const std::string& newStatus, const std::string& answerStatus,
                       const std::string& answerData);
    bool EndRequest(int id);
    bool EndOpenRequests(int deviceId);

  private:
    bool Exec(const char* sql);
    bool AddColumnIfMissing(const char* table, const char* column, const char* declaration);
    std::vector<Request> QueryRequests(const char* sql, int deviceId);

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

}  // namespace lumivo::devcloud
