#include "bench/wire_counter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace lumivo::bench {

namespace {

int Connect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Writes all of it; false when the peer has gone.
bool WriteAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        ssize_t written = send(fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
        if (written <= 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

WireCounter::WireCounter(int targetPort) : targetPort_(targetPort) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        listen(listener_, 16) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port_ = ntohs(address.sin_port);
    }
    if (pipe(wake_) != 0) wake_[0] = wake_[1] = -1;
    thread_ = std::thread([this] { Run(); });
}

WireCounter::~WireCounter() {
    if (wake_[1] >= 0) (void)!write(wake_[1], "x", 1);
    thread_.join();
    close(listener_);
    close(wake_[0]);
    close(wake_[1]);
}

WireCounter::Totals WireCounter::Take() {
    // A client may have closed its end a moment before the relay saw it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (open_.load() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Totals totals;
    totals.up = up_.exchange(0);
    totals.down = down_.exchange(0);
    totals.connections = connections_.exchange(0);
    return totals;
}

void WireCounter::Run() {
    struct Pair {
        int client;
        int service;
    };
    std::vector<Pair> pairs;
    char buffer[16384];
    for (;;) {
        std::vector<pollfd> fds = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (const Pair& pair : pairs) {
            fds.push_back({pair.client, POLLIN, 0});
            fds.push_back({pair.service, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), -1) < 0) continue;
        if (fds[0].revents != 0) break;
        std::vector<Pair> kept;
        for (std::size_t i = 0; i < (fds.size() - 2) / 2; ++i) {
            const Pair pair = pairs[i];
            bool alive = true;
            for (int side = 0; side < 2 && alive; ++side) {
                const pollfd& fd = fds[2 + 2 * i + side];
                if (fd.revents == 0) continue;
                ssize_t got = recv(fd.fd, buffer, sizeof buffer, 0);
                if (got <= 0) {
                    alive = false;
                    break;
                }
                (side == 0 ? up_ : down_) += static_cast<std::uint64_t>(got);
                alive = WriteAll(side == 0 ? pair.service : pair.client, buffer, got);
            }
            if (alive) {
                kept.push_back(pair);
            } else {
                close(pair.client);
                close(pair.service);
                --open_;
            }
        }
        pairs.swap(kept);
        if (fds[1].revents & POLLIN) {
            int client = accept(listener_, nullptr, nullptr);
            int service = client >= 0 ? Connect(targetPort_) : -1;
            if (service >= 0) {
                pairs.push_back({client, service});
                ++connections_;
                ++open_;
            } else if (client >= 0) {
                close(client);
            }
        }
    }
    for (const Pair& pair : pairs) {
        close(pair.client);
        close(pair.service);
    }
}

}  // namespace lumivo::bench
