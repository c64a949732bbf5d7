#pragma once
// The device side's wire: a TLS listener that records every request exactly
// as it arrived (head and body bytes) and every answer as it went out,
// applies the faults the operator set, and relays the request in plain HTTP
// to the internal server that answers it. cpp-httplib keeps headers in a
// sorted map, so the order and spelling on the wire can only be seen here,
// before it parses them.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "devcloud/handles.h"

namespace lumivo::devcloud {

struct LoggedRequest {
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
    static constexpr std::size_t defaultMaxBytes = std::size_t{64} << 20;
    static constexpr std::size_t maxReplyBytes = 64 * 1024;

    explicit WireRecorder(std::size_t maxEntries = defaultMaxEntries,
                          std::size_t maxBytes = defaultMaxBytes)
        : maxEntries_(maxEntries), maxBytes_(maxBytes) {}

    std::uint64_t Add(LoggedRequest entry);
    // The answer as it went out: its status (0 when its head did not go out
    // whole) and the bytes written.
    void SetReply(std::uint64_t sequence, int status, const std::string& written);
    std::vector<LoggedRequest> Log();
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
    std::uint64_t firstSequence_ = 0;  // sequence number of log_.front()
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

struct FrontOptions {
    // Numeric IPv4 or IPv6 addresses; none: 127.0.0.1 and, when the machine
    // has it, ::1.
    std::vector<std::string> addresses;
    int port = 0;  // 0: a free one, the same on every address
    std::string certFile;
    std::string keyFile;
    int upstreamPort = 0;  // the internal server on 127.0.0.1
    TlsOptions tls;
    // Connections served at once; the next ones are answered 503.
    int maxConnections = 64;
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
    void Admit(UniqueFd client);
    void Serve(UniqueFd client, bool refuse);
    void ServeConnection(int fd, bool refuse);
    bool Exchange(SSL* ssl, bool refuse);
    void Reply(SSL* ssl, std::uint64_t sequence, const std::string& answer, std::size_t length);
    bool Relay(const std::string& request, std::string& response);
    bool SleepUnlessStopped(int ms);

    WireRecorder& recorder_;
    SslCtxPtr ctx_;
    std::vector<UniqueFd> listeners_;
    UniqueFd wakeRead_, wakeWrite_;
    int port_ = 0;
    int upstreamPort_ = 0;
    int maxConnections_ = 64;
    std::thread acceptThread_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> stopping_{false};
    std::set<int> openSockets_;
    int activeConnections_ = 0;
    int refusingConnections_ = 0;
};

// True for a numeric IPv4 or IPv6 address (IPv6 without brackets).
bool IsNumericAddress(const std::string& text);
// The address as it goes in a URL: IPv6 in brackets.
std::string UrlHost(const std::string& address);

}  // namespace lumivo::devcloud
