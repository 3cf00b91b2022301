// Makes the device reachable: listens for TLS on the first free port of
// 41820 to 41829, announces itself by DNS-SD, serves at most eight laptops at
// once, each on its own thread running read -> route -> answer. One Server
// lives as long as its owner keeps it; destroying it closes the listener and
// every connection and waits for their threads.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "transport/advertiser.h"
#include "transport/byte_stream.h"
#include "transport/http_request.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace lumenvale {

class Connection;

class Server {
 public:
  static constexpr std::uint16_t kFirstPort = 41820;
  static constexpr std::uint16_t kLastPort = 41829;
  static constexpr int kMaxConnections = 8;
  static constexpr std::chrono::seconds kTimeout{60};
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
    std::string address = "0.0.0.0";  // IPv4 address to listen on
    std::chrono::milliseconds timeout = kTimeout;
  };

  // `advertiser` may be null (no DNS-SD); it must outlive the server.
  Server(Handler handler, Identity identity, std::string name, const std::string& deviceId,
         const std::string& fingerprint, Advertiser* advertiser, Options options);
  Server(Handler handler, Identity identity, std::string name, const std::string& deviceId,
         const std::string& fingerprint, Advertiser* advertiser)
      : Server(std::move(handler), std::move(identity), std::move(name), deviceId, fingerprint,
               advertiser, Options{}) {}
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
  void acceptLoop(int listenFd);
  void accept(int fd);
  void serve(Connection& connection);
  void fail(const std::string& reason);

  Handler handler_;
  Identity identity_;
  std::string name_;
  std::string txt_;
  Advertiser* advertiser_;
  Options options_;
  PortCallback onPort_;

  std::mutex lock_;
  std::condition_variable drained_;
  int connections_ = 0;              // guarded by lock_
  std::set<Connection*> open_;       // guarded by lock_; woken on destruction
  int listenFd_ = -1;                // guarded by lock_
  bool listening_ = false;           // guarded by lock_: a listener thread runs
  bool stopping_ = false;            // guarded by lock_
  std::thread listener_;             // started and joined under the rules of start() and ~Server
  SSL_CTX* context_ = nullptr;
};

}  // namespace lumenvale
