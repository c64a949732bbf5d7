#pragma once
// Owners of the wire's handles: each is closed once, on every path, by the
// scope that holds it. Move-only, like the handles themselves.

#include <memory>

#include <unistd.h>

#include <openssl/ssl.h>

namespace lumivo::devcloud {

// A file descriptor: a socket, a pipe end, a file.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct SslCtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
// SSL_free leaves the socket open: declare the UniqueFd before the SslPtr
// that uses it, so the TLS state goes first.
using SslPtr = std::unique_ptr<SSL, SslFree>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;

}  // namespace lumivo::devcloud
