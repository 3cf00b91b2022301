// The two sides of one laptop connection as the request reader and the
// handlers see them. A connection implements both; tests use in-memory ones.
// Each is used by one thread at a time: the thread serving that connection.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumenvale {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // receive blocks until bytes arrive and returns them (never empty), or
  // returns nothing when the peer has ended the stream. Its failures
  // (ConnectionClosed on a time-out, system errors) pass through callers.
  virtual std::optional<std::string> receive() = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;

  // send blocks until every byte has been taken, or throws. A response may be
  // written with one send or several in a row.
  virtual void send(std::string_view bytes) = 0;

  // queue hands over bytes that more of the same answer follows at once:
  // a sink may hold them until its next send, or until the answer ends,
  // so that a frame's few bytes ride with the payload after them instead
  // of going out alone. Sinks that hold nothing send them at once.
  virtual void queue(std::string_view bytes) { send(bytes); }

  // authenticated is told, before the answer, that the request being
  // answered carried a valid token: its connection then keeps a laptop's
  // place and time limits. Throws ConnectionClosed when every laptop place
  // is taken; the request is then not answered. Sinks that hold no places
  // ignore it.
  virtual void authenticated() {}

  // peerGone says whether the peer has hung up, without reading anything:
  // a handler that waits long (for the owner) asks it to give up early.
  virtual bool peerGone() const { return false; }
};

}  // namespace lumenvale
