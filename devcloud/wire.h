#pragma once
// The device side's wire: a TLS listener that records every request exactly
// as it arrived (head and body bytes) and every answer as it went out,
// applies the faults the operator set, and hands the request, as parsed
// here and nowhere else, to the service in this process. What is logged is
// exactly what the service acted on.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "devcloud/handles.h"

namespace lumivo::devcloud {

struct LoggedRequest {
    std::uint64_t id = 0;  // given by the log, from 1 on; never reused while the process runs
    std::string method;
    std::string path;  // the request target as sent
    std::vector<std::pair<std::string, std::string>> headers;
    std::string head;  // request line and header lines, bytes as received
    std::string body;
    bool complete = false;     // false: the connection ended before the whole request came
    int status = 0;            // status answered; 0 while none (or dropped before the head)
    long long receivedMs = 0;  // when the head had come, milliseconds since the epoch
    std::string reply;         // the answer's bytes as written, at most maxReplyBytes of them
    bool replyTruncated = false;
};

struct Fault {
    std::string path;
    int count = 1;
    int status = 0;  // 0: the request is served normally
    std::string body;
    int delayMs = 0;
    bool drop = false;
    // With drop: bytes of the answer written before the connection is cut;
    // -1 cuts in the middle of the body (or of the head when there is none).
    long dropAfterBytes = -1;
};

// The request log and the pending faults; shared with the operator side.
// The log is bounded in entries and in bytes; past either bound the oldest
// entries go first.
class WireRecorder {
  public:
    static constexpr std::size_t defaultMaxEntries = 10000;
    // Small enough that a full log and the bodies in flight stay well under
    // 128 MB together.
    static constexpr std::size_t defaultMaxBytes = std::size_t{32} << 20;
    static constexpr std::size_t maxReplyBytes = 64 * 1024;

    explicit WireRecorder(std::size_t maxEntries = defaultMaxEntries,
                          std::size_t maxBytes = defaultMaxBytes)
        : maxEntries_(maxEntries), maxBytes_(maxBytes) {}

    // The entry's id.
    std::uint64_t Add(LoggedRequest entry);
    // The answer as it went out: its status (0 when its head did not go out
    // whole) and the bytes written.
    void SetReply(std::uint64_t sequence, int status, const std::string& written);
    std::vector<LoggedRequest> Log();
    // The ids of the entries after `after`, oldest first.
    std::vector<std::uint64_t> Ids(std::uint64_t after);
    // A copy of one entry; false when it is not (or no longer) held.
    bool Find(std::uint64_t id, LoggedRequest& out);
    // The id of the oldest entry held, or of the next one when none is.
    std::uint64_t FirstId();
    void ClearLog();
    std::size_t LogBytes();

    void AddFault(const Fault& fault);
    void ClearFaults();
    std::vector<Fault> Faults();
    // Takes one use of the first pending fault for the path.
    bool TakeFault(const std::string& path, Fault& out);

  private:
    void DropOldest();

    const std::size_t maxEntries_;
    const std::size_t maxBytes_;
    std::mutex mutex_;
    std::deque<LoggedRequest> log_;
    std::uint64_t firstSequence_ = 1;  // id of log_.front()
    std::size_t bytes_ = 0;            // what log_ holds, as counted by EntryBytes
    std::vector<Fault> faults_;
};

// How the device side's TLS is set up. legacy also accepts TLS 1.0 and 1.1 and
// weak ciphers, for older device stacks. The server's side of resumption:
// noResumedTicket issues no new session ticket on a resumed connection (the
// client keeps the one it came with); statefulTickets keeps the sessions in
// the server and hands out tickets that only name them.
struct TlsOptions {
    bool legacy = false;
    bool noResumedTicket = false;
    bool statefulTickets = false;
};

// Answers one whole request as the front parsed it: the status and JSON body.
using RequestHandler =
    std::function<void(const LoggedRequest& request, int& status, std::string& body)>;

struct FrontOptions {
    // Numeric IPv4 or IPv6 addresses; none: 127.0.0.1 and, when the machine
    // has it, ::1.
    std::vector<std::string> addresses;
    int port = 0;  // 0: a free one, the same on every address
    std::string certFile;
    std::string keyFile;
    RequestHandler handler;
    TlsOptions tls;
    // Connections served at once; the next ones are answered 503.
    int maxConnections = 64;
    // Connections one peer address may hold at once; more are closed at once.
    int maxConnectionsPerAddress = 16;
};

class TlsFront {
  public:
    // Connections past the cap that still get their 503; any more are
    // closed at once.
    static constexpr int refusalReserve = 16;

    explicit TlsFront(WireRecorder& recorder) : recorder_(recorder) {}
    ~TlsFront();
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    bool Start(const FrontOptions& options, std::string& error);
    int port() const { return port_; }
    // Closes the listeners, cuts open connections and waits for their threads.
    void Stop();

  private:
    bool Listen(const std::vector<std::string>& addresses, bool loopbackDefault, int port,
                std::string& error);
    void AcceptLoop();
    void Admit(UniqueFd client, const std::string& peer);
    void Serve(UniqueFd client, bool refuse, const std::string& peer);
    void ServeConnection(int fd, bool refuse);
    bool Exchange(SSL* ssl, bool refuse, std::chrono::steady_clock::time_point headDeadline);
    void Reply(SSL* ssl, LoggedRequest entry, const std::string& answer, std::size_t length);
    bool SleepUnlessStopped(int ms);

    WireRecorder& recorder_;
    SslCtxPtr ctx_;
    std::vector<UniqueFd> listeners_;
    UniqueFd wakeRead_, wakeWrite_;
    int port_ = 0;
    RequestHandler handler_;
    int maxConnections_ = 64;
    int maxPerAddress_ = 16;
    std::thread acceptThread_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> stopping_{false};
    std::set<int> openSockets_;
    std::map<std::string, int> perAddress_;  // connections held, by peer address
    int activeConnections_ = 0;
    int refusingConnections_ = 0;
};

// True for a numeric IPv4 or IPv6 address (IPv6 without brackets).
bool IsNumericAddress(const std::string& text);
// The address as it goes in a URL: IPv6 in brackets.
std::string UrlHost(const std::string& address);

}  // namespace lumivo::devcloud
