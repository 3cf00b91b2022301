#include "transport/connection.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "transport/http_request.h"
#include "util/failure.h"

namespace lumenvale {
namespace {

std::string describeTlsError(const char* step, int code) {
  char text[256] = {};
  const unsigned long queued = ERR_get_error();
  if (queued != 0) ERR_error_string_n(queued, text, sizeof text);
  ERR_clear_error();
  return std::string(step) + " failed (" + std::to_string(code) + "): " + text;
}

bool wantsIo(int sslError) { return sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE; }

}  // namespace

Connection::Connection(int fd, SSL_CTX* context, std::chrono::milliseconds timeout) : fd_(fd), timeout_(timeout) {
  // A non-blocking socket, each wait a poll with its own limit: a kernel
  // time-out per read would restart with every byte, so a laptop sending
  // one byte a second could hold its place for hours.
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) return;
  ssl_ = SSL_new(context);
  if (ssl_ == nullptr) return;
  // Records are read straight from the socket, and written through a
  // buffer in front of it. The buffer keeps OpenSSL's small default until
  // the peer shows a laptop's token (useLargeWrites): a stranger holds no
  // more than it needs for the handshake and a refusal.
  BIO* socket = BIO_new_socket(fd_, BIO_NOCLOSE);
  BIO* buffered = BIO_new(BIO_f_buffer());
  if (socket == nullptr || buffered == nullptr || BIO_up_ref(socket) != 1) {
    BIO_free(socket);
    BIO_free(buffered);
    SSL_free(ssl_);
    ssl_ = nullptr;
    return;
  }
  BIO_push(buffered, socket);
  SSL_set_bio(ssl_, socket, buffered);  // one reference each: the reader's, and the buffer's
}

Connection::~Connection() {
  if (ssl_ != nullptr) SSL_free(ssl_);
  ::close(fd_);
}

bool Connection::wait(int sslError, Steady::time_point deadline) const {
  pollfd watch{fd_, static_cast<short>(sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now()).count();
    if (left <= 0) return false;
    const int ready = ::poll(&watch, 1, static_cast<int>(std::min<decltype(left)>(left, 3600000)));
    // Ready, hung up or failed: the next TLS call tells which.
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
  }
}

bool Connection::peerGone() const {
  pollfd watch{fd_, POLLRDHUP, 0};
  int ready = 0;
  do {
    ready = ::poll(&watch, 1, 0);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (watch.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool Connection::handshake(Steady::time_point deadline) {
  if (ssl_ == nullptr) return false;
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_accept(ssl_);
    const int error = result == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_SYSCALL && errno == EINTR) continue;
    if (wantsIo(error) && wait(error, deadline)) continue;
    ERR_clear_error();
    return result == 1;
  }
}

std::optional<std::string> Connection::receive() {
  if (ssl_ == nullptr) throw ConnectionClosed();
  const Steady::time_point deadline = std::min(Steady::now() + timeout_, receiveDeadline_);
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
    if (wantsIo(error)) {
      if (wait(error, deadline)) continue;
      cancel();
      throw ConnectionClosed();
    }
    throw std::runtime_error(describeTlsError("SSL_read", error));
  }
}

void Connection::send(std::string_view bytes) {
  queue(bytes);
  flush();
}

void Connection::queue(std::string_view bytes) {
  if (ssl_ == nullptr) throw ConnectionClosed();
  while (!bytes.empty()) {
    ERR_clear_error();
    errno = 0;
    // Retried with the same bytes after a wait, as TLS requires.
    const int part = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30));
    const int written = SSL_write(ssl_, bytes.data(), part);
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    const int error = SSL_get_error(ssl_, written);
    if (error == SSL_ERROR_SYSCALL && errno == EINTR) continue;
    if (wantsIo(error)) {
      // Each wait has the whole time-out: a laptop that takes bytes slowly
      // still takes them, one that stopped reading is let go.
      if (wait(error, Steady::now() + timeout_)) continue;
      cancel();
      throw ConnectionClosed();
    }
    throw std::runtime_error(describeTlsError("SSL_write", error));
  }
}

void Connection::flush() {
  if (ssl_ == nullptr) throw ConnectionClosed();
  BIO* out = SSL_get_wbio(ssl_);
  for (;;) {
    errno = 0;
    if (BIO_flush(out) > 0) return;
    if (!BIO_should_retry(out)) {
      const int cause = errno;
      ERR_clear_error();
      throw std::runtime_error(std::string("sending failed: ") + (cause != 0 ? errnoText(cause) : "closed"));
    }
    if (wait(SSL_ERROR_WANT_WRITE, Steady::now() + timeout_)) continue;
    cancel();
    throw ConnectionClosed();
  }
}

void Connection::useLargeWrites() {
  if (largeWrites_) return;
  // Resizing drops whatever the buffer holds, so it is emptied first.
  flush();
  if (BIO_set_write_buffer_size(SSL_get_wbio(ssl_), kSendBufferBytes) != 1) {
    throw std::runtime_error("the send buffer cannot grow: out of memory");
  }
  largeWrites_ = true;
}

void Connection::cancel() {
  // shutdown (not close) so the descriptor stays valid for the owner while
  // any blocked call on it returns at once.
  ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace lumenvale
