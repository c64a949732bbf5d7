#pragma once
// A loopback relay that counts the bytes on the wire: it listens on an
// ephemeral 127.0.0.1 port, connects each client it accepts to the target
// port and copies both ways, counting what goes up (client to service) and
// down, and how many connections were made.

#include <atomic>
#include <cstdint>
#include <thread>

namespace lumivo::bench {

class WireCounter {
  public:
    struct Totals {
        std::uint64_t up = 0;
        std::uint64_t down = 0;
        long connections = 0;
    };

    explicit WireCounter(int targetPort);
    ~WireCounter();
    WireCounter(const WireCounter&) = delete;
    WireCounter& operator=(const WireCounter&) = delete;

    int Port() const { return port_; }
    // The totals since the last call; waits until every relayed connection has closed.
    Totals Take();

  private:
    void Run();

    int targetPort_;
    int listener_ = -1;
    int port_ = 0;
    int wake_[2] = {-1, -1};
    std::atomic<std::uint64_t> up_{0}, down_{0};
    std::atomic<long> connections_{0}, open_{0};
    std::thread thread_;
};

}  // namespace lumivo::bench
