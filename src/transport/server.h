// Makes the device reachable: listens for TLS on the first free port of
// 41820 to 41829, announces itself by DNS-SD, serves at most eight laptops at
// once, each on its own thread running read -> route -> answer. Connections
// that have not shown a valid token wait at a separate, larger door with a
// short time limit, so strangers holding sockets cannot take a laptop's
// place. One Server lives as long as its owner keeps it; destroying it closes
// the listener and every connection and waits for their threads.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "transport/advertiser.h"
#include "transport/byte_stream.h"
#include "transport/http_request.h"
#include "util/mutex.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace lumenvale {

class Connection;

class Server {
 public:
  static constexpr std::uint16_t kFirstPort = 41820;
  static constexpr std::uint16_t kLastPort = 41829;
  // Places for connections that have shown a valid token: laptops.
  static constexpr int kMaxConnections = 8;
  // Places for connections that have not, yet: a laptop's new connection
  // before its first request, a laptop pairing, or a stranger. When they
  // are all taken, a newcomer pushes out the one that has waited longest.
  static constexpr int kMaxStrangers = 32;
  // What a laptop's connection may take for each wait, and for each
  // request's head and body.
  static constexpr std::chrono::seconds kTimeout{60};
  // What a connection that has shown no valid token may take for the TLS
  // handshake with its first request's head, and for each later head: a
  // laptop on the local network needs a fraction of a second, and a lost
  // packet or two are resent well within it.
  static constexpr std::chrono::seconds kStrangerTimeout{5};
  static constexpr const char* kServiceType = "_lumenvale._tcp";

  // Answers one request on the sink, or throws HttpError (answered with the
  // JSON error body, the connection kept) or anything else (the connection
  // closed without an answer). Called on connection threads at once.
  using Handler = std::function<void(const HttpRequest&, ByteSink&)>;

  // Told once listening, with the port, or with nothing and a reason when
  // listening failed for good. Called on the listener thread.
  using PortCallback = std::function<void(std::optional<std::uint16_t> port, const std::string& reason)>;

  struct Identity {
    std::string certificateDer;
    std::string privateKeyPem;
  };

  struct Options {
    // Empty (or "::") for every address, IPv6 and IPv4; otherwise one
    // numeric IPv4 or IPv6 address (see ListenAddress).
    std::string address;
    std::chrono::milliseconds timeout = kTimeout;
    std::chrono::milliseconds strangerTimeout = kStrangerTimeout;
  };

  // `advertiser` may be null (no DNS-SD); it must outlive the server.
  Server(Handler handler, Identity identity, std::string name, const std::string& deviceId,
         const std::string& fingerprint, Advertiser* advertiser, Options options);
  Server(Handler handler, Identity identity, std::string name, const std::string& deviceId,
         const std::string& fingerprint, Advertiser* advertiser)
      : Server(std::move(handler), std::move(identity), std::move(name), deviceId, fingerprint, advertiser, Options{}) {
  }
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // txtRecord encodes (key, value) pairs as DNS-SD TXT: for each, one length
  // byte, then "key=value". An entry over 255 bytes cannot be encoded and
  // is left out.
  static std::string txtRecord(const std::vector<std::pair<std::string, std::string>>& pairs);

  // Set before start().
  void setOnPort(PortCallback onPort) { onPort_ = std::move(onPort); }

  // start begins listening from 41820 upward on a listener thread; while a
  // listener exists it does nothing, so it may be called again after a
  // failure to retry.
  void start();

  const std::string& txt() const { return txt_; }

 private:
  void listen();
  // One accepted connection as the server counts it. Its fields change
  // under lock_; `laptop` changes only on the connection's own thread, which
  // therefore reads it without the lock.
  struct Place {
    Connection* connection = nullptr;
    bool laptop = false;     // has shown a valid token: holds one of the eight places
    bool answering = false;  // inside a handler: never pushed out mid-answer
    bool pushedOut = false;  // lost its place at the door to a newcomer
  };
  class Answering;

  void acceptLoop(int listenFd);
  void accept(int fd);
  void serve(Connection& connection, Place& place, std::chrono::steady_clock::time_point firstHeadBy);
  // The state changes of a place, each under lock_. beginAnswer is false
  // when the place was pushed out; promote is false when the eight laptop
  // places are taken.
  bool beginAnswer(Place& place);
  void endAnswer(Place& place);
  bool promote(Place& place);
  void fail(const std::string& reason);

  Handler handler_;
  Identity identity_;
  std::string name_;
  std::string txt_;
  Advertiser* advertiser_;
  Options options_;
  PortCallback onPort_;

  Mutex lock_;
  std::condition_variable drained_;
  int threads_ GUARDED_BY(lock_) = 0;           // connection threads still running
  int laptops_ GUARDED_BY(lock_) = 0;           // places_ that are laptops'
  std::list<Place*> places_ GUARDED_BY(lock_);  // counted places, oldest first
  int listenFd_ GUARDED_BY(lock_) = -1;
  bool listening_ GUARDED_BY(lock_) = false;  // a listener thread runs
  bool stopping_ GUARDED_BY(lock_) = false;
  std::thread listener_;  // started and joined under the rules of start() and ~Server
  SSL_CTX* context_ = nullptr;
};

}  // namespace lumenvale
