#include "transport/connection.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "transport/http_request.h"

namespace lumenvale {
namespace {

std::string describeTlsError(const char* step, int code) {
  char text[256] = {};
  const unsigned long queued = ERR_get_error();
  if (queued != 0) ERR_error_string_n(queued, text, sizeof text);
  ERR_clear_error();
  return std::string(step) + " failed (" + std::to_string(code) + "): " + text;
}

bool timedOut() { return errno == EAGAIN || errno == EWOULDBLOCK; }

}  // namespace

Connection::Connection(int fd, SSL_CTX* context, std::chrono::milliseconds timeout) : fd_(fd) {
  // Blocking socket with kernel time-outs: every read and write, the
  // handshake's included, gives up after `timeout` without progress.
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  ssl_ = SSL_new(context);
  if (ssl_ != nullptr && SSL_set_fd(ssl_, fd_) != 1) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
}

Connection::~Connection() {
  if (ssl_ != nullptr) SSL_free(ssl_);
  ::close(fd_);
}

bool Connection::handshake() {
  if (ssl_ == nullptr) return false;
  ERR_clear_error();
  const int result = SSL_accept(ssl_);
  ERR_clear_error();
  return result == 1;
}

std::optional<std::string> Connection::receive() {
  if (ssl_ == nullptr) throw ConnectionClosed();
  std::string bytes(kMaxReceiveBytes, '\0');
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int got = SSL_read(ssl_, bytes.data(), static_cast<int>(bytes.size()));
    if (got > 0) {
      bytes.resize(static_cast<std::size_t>(got));
      return bytes;
    }
    const int error = SSL_get_error(ssl_, got);
    if (error == SSL_ERROR_ZERO_RETURN) return std::nullopt;
    if (error == SSL_ERROR_SYSCALL && errno == 0) return std::nullopt;  // TCP closed without close_notify
    if (error == SSL_ERROR_SYSCALL && errno == EINTR) continue;
    if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_SYSCALL) && timedOut()) {
      cancel();
      throw ConnectionClosed();
    }
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) continue;
    throw std::runtime_error(describeTlsError("SSL_read", error));
  }
}

void Connection::send(std::string_view bytes) {
  if (ssl_ == nullptr) throw ConnectionClosed();
  while (!bytes.empty()) {
    ERR_clear_error();
    errno = 0;
    const int part = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30));
    const int written = SSL_write(ssl_, bytes.data(), part);
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    const int error = SSL_get_error(ssl_, written);
    if (error == SSL_ERROR_SYSCALL && errno == EINTR) continue;
    if ((error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_SYSCALL) && timedOut()) {
      cancel();
      throw ConnectionClosed();
    }
    throw std::runtime_error(describeTlsError("SSL_write", error));
  }
}

void Connection::cancel() {
  // shutdown (not close) so the descriptor stays valid for the owner while
  // any blocked call on it returns at once.
  ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace lumenvale
