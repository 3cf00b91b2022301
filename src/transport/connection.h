// One accepted laptop connection: TLS over a TCP socket, offered to the
// request reader as a ByteSource and to handlers as a ByteSink, every wait
// bounded by the time-out. Used by the one thread that serves it.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "transport/byte_stream.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace lumenvale {

class Connection : public ByteSource, public ByteSink {
 public:
  using Steady = std::chrono::steady_clock;

  // The most one receive takes.
  static constexpr std::size_t kMaxReceiveBytes = 65536;

  // Takes ownership of the accepted socket `fd`; no I/O happens until
  // handshake().
  Connection(int fd, SSL_CTX* context, std::chrono::milliseconds timeout);
  ~Connection() override;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // handshake runs the server side of TLS; false when the peer does not
  // complete it by `deadline`, however the bytes trickle in, or it fails.
  bool handshake(Steady::time_point deadline);

  // receiveBy bounds every later receive by `deadline` as well as by the
  // time-out of each wait, so that a peer trickling bytes cannot stretch
  // one request past it.
  void receiveBy(Steady::time_point deadline) { receiveDeadline_ = deadline; }

  // receive returns up to 64 KiB, or nothing when the laptop ended the
  // stream. Throws ConnectionClosed when nothing arrives within the
  // time-out or the receive deadline has passed, std::runtime_error for a
  // TLS or socket failure.
  std::optional<std::string> receive() override;

  // The TLS records waiting to go out to a laptop, written to the socket
  // together: one system call for many records rather than one for each
  // 16 KiB.
  static constexpr int kSendBufferBytes = 256 * 1024;

  // send writes every byte, with anything queued before it; throws
  // ConnectionClosed when the laptop takes nothing within the time-out,
  // std::runtime_error on a failure.
  void send(std::string_view bytes) override;

  // queue encrypts the bytes but may hold them until the next send or
  // flush. Fails as send does.
  void queue(std::string_view bytes) override;

  // flush writes out whatever is held. Fails as send does.
  void flush();

  // useLargeWrites grows the send buffer to kSendBufferBytes, once the
  // peer has shown it is a laptop that may fetch files; once is enough.
  // Flushes first; fails as send does.
  void useLargeWrites();

  // peerGone polls the socket, reading nothing: true once the laptop has
  // hung up (or reset the connection).
  bool peerGone() const override;

  // cancel closes the connection at once; later calls fail. Safe to call
  // from another thread to wake a blocked receive or send.
  void cancel();

 private:
  // wait blocks until the socket is ready for what TLS asked (`sslError`
  // is SSL_ERROR_WANT_READ or _WANT_WRITE), or hung up; false when
  // `deadline` comes first.
  bool wait(int sslError, Steady::time_point deadline) const;

  int fd_;
  SSL* ssl_ = nullptr;
  std::chrono::milliseconds timeout_;
  Steady::time_point receiveDeadline_ = Steady::time_point::max();
  bool largeWrites_ = false;
};

}  // namespace lumenvale
