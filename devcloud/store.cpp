#include "devcloud/store.h"

#include <sqlite3.h>

#include "devcloud/service.h"

namespace lumivo::devcloud {

namespace {

const char* const schema =
    "CREATE TABLE IF NOT EXISTS devices ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " password TEXT NOT NULL,"
    " type_code TEXT NOT NULL DEFAULT '',"
    " version TEXT NOT NULL DEFAULT '',"
    " connections_password TEXT NOT NULL DEFAULT '',"
    " last_seen_ms INTEGER NOT NULL DEFAULT 0,"
    " enrolled_ms INTEGER NOT NULL DEFAULT 0,"
    " last_login_ms INTEGER NOT NULL DEFAULT 0,"
    " last_poll_ms INTEGER NOT NULL DEFAULT 0,"
    " deleted_ms INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS tokens ("
    " token TEXT PRIMARY KEY,"
    " device_id INTEGER NOT NULL REFERENCES devices(id));"
    "CREATE TABLE IF NOT EXISTS requests ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " device_id INTEGER NOT NULL REFERENCES devices(id),"
    " type TEXT NOT NULL,"
    " status TEXT NOT NULL,"
    " data TEXT NOT NULL,"
    " answered INTEGER NOT NULL DEFAULT 0,"
    " answer_status TEXT NOT NULL DEFAULT '',"
    " answer_data TEXT NOT NULL DEFAULT '',"
    " created_ms INTEGER NOT NULL DEFAULT 0,"
    " changed_ms INTEGER NOT NULL DEFAULT 0);";

// One prepared statement, finalised on every path.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        if (db != nullptr) sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    Statement& Bind(int index, const std::string& text) {
        if (stmt_)
            sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                              SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int index, std::int64_t value) {
        if (stmt_) sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    // True while there is a row to read.
    bool Row() { return stmt_ && sqlite3_step(stmt_) == SQLITE_ROW; }
    // True when a statement without rows ran to its end.
    bool Run() { return stmt_ && sqlite3_step(stmt_) == SQLITE_DONE; }
    std::int64_t Int(int column) { return sqlite3_column_int64(stmt_, column); }
    std::string Text(int column) {
        const unsigned char* text = sqlite3_column_text(stmt_, column);
        int size = sqlite3_column_bytes(stmt_, column);
        return text ? std::string(reinterpret_cast<const char*>(text), size) : std::string();
    }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

Device ReadDevice(Statement& s) {
    Device d;
    d.id = static_cast<int>(s.Int(0));
    d.password = s.Text(1);
    d.typeCode = s.Text(2);
    d.version = s.Text(3);
    d.connectionsPassword = s.Text(4);
    d.lastSeenMs = s.Int(5);
    d.enrolledMs = s.Int(6);
    d.lastLoginMs = s.Int(7);
    d.lastPollMs = s.Int(8);
    return d;
}

const char* const deviceColumns =
    "SELECT id, password, type_code, version, connections_password, last_seen_ms, enrolled_ms, "
    "last_login_ms, last_poll_ms FROM devices WHERE deleted_ms = 0 ";
const char* const requestColumns =
    "SELECT id, device_id, type, status, data, answered, answer_status, answer_data, "
    "created_ms, changed_ms FROM requests ";

}  // namespace

Store::~Store() { Close(); }

bool Store::Open(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    // A second copy on the same folder waits briefly instead of failing at once.
    sqlite3_busy_timeout(db_, 2000);
    if (!Exec("PRAGMA journal_mode=WAL;") || !Exec("PRAGMA foreign_keys=ON;") || !Exec(schema) ||
        !AddColumnIfMissing("devices", "enrolled_ms", "INTEGER NOT NULL DEFAULT 0") ||
        !AddColumnIfMissing("devices", "last_login_ms", "INTEGER NOT NULL DEFAULT 0") ||
        !AddColumnIfMissing("devices", "last_poll_ms", "INTEGER NOT NULL DEFAULT 0") ||
        !AddColumnIfMissing("devices", "deleted_ms", "INTEGER NOT NULL DEFAULT 0") ||
        !AddColumnIfMissing("requests", "created_ms", "INTEGER NOT NULL DEFAULT 0") ||
        !AddColumnIfMissing("requests", "changed_ms", "INTEGER NOT NULL DEFAULT 0")) {
        error = sqlite3_errmsg(db_);
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    return true;
}

void Store::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

bool Store::Exec(const char* sql) {
    return db_ && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A database from before a column was added gets it, with its default.
bool Store::AddColumnIfMissing(const char* table, const char* column, const char* declaration) {
    const std::string select = std::string("SELECT ") + column + " FROM " + table + " LIMIT 0";
    if (Statement(db_, select.c_str()).ok()) return true;
    return Exec((std::string("ALTER TABLE ") + table + " ADD COLUMN " + column + " " +
                 declaration)
                    .c_str());
}

int Store::AddDevice(const std::string& password, const std::string& typeCode,
                     const std::string& version, std::int64_t enrolledMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s(db_,
                "INSERT INTO devices (password, type_code, version, enrolled_ms) "
                "VALUES (?, ?, ?, ?)");
    if (!s.Bind(1, password).Bind(2, typeCode).Bind(3, version).Bind(4, enrolledMs).Run())
        return 0;
    return static_cast<int>(sqlite3_last_insert_rowid(db_));
}

bool Store::FindDevice(int id, Device& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s(db_, (std::string(deviceColumns) + "AND id = ?").c_str());
    if (!s.Bind(1, static_cast<std::int64_t>(id)).Row()) return false;
    out = ReadDevice(s);
    return true;
}

std::vector<Device> Store::Devices() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Device> devices;
    Statement s(db_, (std::string(deviceColumns) + "ORDER BY id").c_str());
    while (s.Row()) devices.push_back(ReadDevice(s));
    return devices;
}

bool Store::SetDeviceVersion(int id, const std::string& version) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s(db_, "UPDATE devices SET version = ? WHERE id = ? AND deleted_ms = 0");
    return s.Bind(1, version).Bind(2, static_cast<std::int64_t>(id)).Run() &&
           sqlite3_changes(db_) == 1;
}

bool Store::SetLastSeen(int id, std::int64_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s(db_, "UPDATE devices SET last_seen_ms = ? WHERE id = ? AND deleted_ms = 0");
    return s.Bind(1, ms).Bind(2, static_cast<std::int64_t>(id)).Run() && sqlite3_changes(db_) == 1;
}

bool Store::SetLastLogin(int id, std::int64_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s(db_, "UPDATE devices SET last_login_ms = ? WHERE id = ? AND deleted_ms = 0");
    return s.Bind(1, ms).Bind(2, static_cast<std::int64_t>(id)).Run() && sqlite3_changes(db_) == 1;
}

bool Store::SetLastPoll(int id, std::int64_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s(db_, "UPDATE devices SET last_poll_ms = ? WHERE id = ? AND deleted_ms = 0");
    return s.Bind(1, ms).Bind(2, static_cast<std::int64_t>(id)).Run() && sqlite3_changes(db_) == 1;
}

bool Store::DeleteDevice(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::int64_t now = NowMs();
    const std::int64_t device = id;
    // The row stays, marked, so the requests it made keep their history.
    if (!Exec("BEGIN")) return false;
    Statement mark(db_, "UPDATE devices SET deleted_ms = ? WHERE id = ? AND deleted_ms = 0");
    bool ok = mark.Bind(1, now).Bind(2, device).Run() && sqlite3_changes(db_) == 1;
    if (ok) {
        Statement tokens(db_, "DELETE FROM tokens WHERE device_id = ?");
        Statement requests(db_,
                           "UPDATE requests SET status = 'ended', changed_ms = ? "
                           "WHERE device_id = ? AND status != 'ended'");
        ok = tokens.Bind(1, device).Run() && requests.Bind(1, now).Bind(2, device).Run();
    }
    Exec(ok ? "COMMIT" : "ROLLBACK");
    return ok;
}

bool Store::SetConnectionsPassword(int id, const std::string& password) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s(db_, "UPDATE devices SET connections_password = ? WHERE id = ? AND deleted_ms = 0");
    return s.Bind(1, password).Bind(2, static_cast<std::int64_t>(id)).Run() &&
           sqlite3_changes(db_) == 1;
}

bool Store::AddToken(const std::string& token, int deviceId) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s(db_, "INSERT INTO tokens (token, device_id) VALUES (?, ?)");
    return s.Bind(1, token).Bind(2, static_cast<std::int64_t>(deviceId)).Run();
}

int Store::DeviceForToken(const std::string& token) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s(db_, "SELECT device_id FROM tokens WHERE token = ?");
    if (!s.Bind(1, token).Row()) return 0;
    return static_cast<int>(s.Int(0));
}

int Store::AddRequest(int deviceId, const std::string& type, const std::string& status,
                      const std::string& data) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s(db_,
                "INSERT INTO requests (device_id, type, status, data, created_ms, changed_ms) "
                "VALUES (?, ?, ?, ?, ?, ?)");
    const std::int64_t now = NowMs();
    if (!s.Bind(1, static_cast<std::int64_t>(deviceId))
             .Bind(2, type)
             .Bind(3, status)
             .Bind(4, data)
             .Bind(5, now)
             .Bind(6, now)
             .Run())
        return 0;
    return static_cast<int>(sqlite3_last_insert_rowid(db_));
}

std::vector<Request> Store::QueryRequests(const char* sql, int deviceId) {
    std::vector<Request> requests;
    Statement s(db_, sql);
    if (deviceId != 0) s.Bind(1, static_cast<std::int64_t>(deviceId));
    while (s.Row()) {
        Request r;
        r.id = static_cast<int>(s.Int(0));
        r.deviceId = static_cast<int>(s.Int(1));
        r.type = s.Text(2);
        r.status = s.Text(3);
        r.data = s.Text(4);
        r.answered = s.Int(5) != 0;
        r.answerStatus = s.Text(6);
        r.answerData = s.Text(7);
        r.createdMs = s.Int(8);
        r.changedMs = s.Int(9);
        requests.push_back(std::move(r));
    }
    return requests;
}

bool Store::FindRequest(int id, Request& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Request> found =
        QueryRequests((std::string(requestColumns) + "WHERE id = ?").c_str(), id);
    if (found.empty()) return false;
    out = found.front();
    return true;
}

std::vector<Request> Store::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return QueryRequests((std::string(requestColumns) + "ORDER BY id").c_str(), 0);
}

std::vector<Request> Store::OpenRequests(int deviceId) {
    std::lock_guard<std::mutex> lock(mutex_);
    return QueryRequests((std::string(requestColumns) +
                          "WHERE device_id = ? AND status IN ('request', 'vpn-created') "
                          "ORDER BY id")
                             .c_str(),
                         deviceId);
}

bool Store::AnswerRequest(int id, const std::string& newStatus, const std::string& answerStatus,
                          const std::string& answerData) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s(db_,
                "UPDATE requests SET status = ?, answered = 1, answer_status = ?, "
                "answer_data = ?, changed_ms = ? WHERE id = ?");
    return s.Bind(1, newStatus)
               .Bind(2, answerStatus)
               .Bind(3, answerData)
               .Bind(4, NowMs())
               .Bind(5, static_cast<std::int64_t>(id))
               .Run() &&
           sqlite3_changes(db_) == 1;
}

bool Store::EndRequest(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Ending an ended request changes nothing, not even its time.
    Statement s(db_,
                "UPDATE requests SET status = 'ended', "
                "changed_ms = CASE status WHEN 'ended' THEN changed_ms ELSE ? END WHERE id = ?");
    return s.Bind(1, NowMs()).Bind(2, static_cast<std::int64_t>(id)).Run() &&
           sqlite3_changes(db_) == 1;
}

bool Store::EndOpenRequests(int deviceId) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s(db_,
                "UPDATE requests SET status = 'ended', changed_ms = ? "
                "WHERE device_id = ? AND status IN ('request', 'vpn-created')");
    return s.Bind(1, NowMs()).Bind(2, static_cast<std::int64_t>(deviceId)).Run();
}

}  // namespace lumivo::devcloud
