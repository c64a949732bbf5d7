#pragma once
// The device side's wire: a TLS listener on loopback that records every
// request exactly as it arrived (head and body bytes), applies the faults the
// operator set, and relays the request in plain HTTP to the internal server
// that answers it. cpp-httplib keeps headers in a sorted map, so the order and
// spelling on the wire can only be seen here, before it parses them.

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

typedef struct ssl_ctx_st SSL_CTX;

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
class WireRecorder {
  public:
    static constexpr std::size_t maxLogEntries = 10000;

    std::uint64_t Add(LoggedRequest entry);
    void SetStatus(std::uint64_t sequence, int status);
    std::vector<LoggedRequest> Log();
    void ClearLog();

    void AddFault(const Fault& fault);
    void ClearFaults();
    std::vector<Fault> Faults();
    // Takes one use of the first pending fault for the path.
    bool TakeFault(const std::string& path, Fault& out);

  private:
    std::mutex mutex_;
    std::deque<LoggedRequest> log_;
    std::uint64_t firstSequence_ = 0;  // sequence number of log_.front()
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

class TlsFront {
  public:
    explicit TlsFront(WireRecorder& recorder) : recorder_(recorder) {}
    ~TlsFront();
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    // Listens on 127.0.0.1 and, when the machine has it, on ::1 at the same
    // port (0: a free one), and relays to 127.0.0.1:upstreamPort.
    bool Start(int port, const std::string& certFile, const std::string& keyFile, int upstreamPort,
               const TlsOptions& tls, std::string& error);
    int port() const { return port_; }
    // Closes the listeners, cuts open connections and waits for their threads.
    void Stop();

  private:
    bool Listen(int port, std::string& error);
    void AcceptLoop();
    void Serve(int fd);
    void ServeConnection(int fd);
    bool Relay(const std::string& request, std::string& response);
    bool SleepUnlessStopped(int ms);

    WireRecorder& recorder_;
    SSL_CTX* ctx_ = nullptr;
    std::vector<int> listeners_;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    int upstreamPort_ = 0;
    std::thread acceptThread_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> stopping_{false};
    std::set<int> openSockets_;
    int activeConnections_ = 0;
};

}  // namespace lumivo::devcloud
