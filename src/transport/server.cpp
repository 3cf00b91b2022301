#include "transport/server.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>

#include "transport/connection.h"
#include "transport/http.h"
#include "transport/listen_address.h"
#include "transport/request_reader.h"
#include "util/failure.h"
#include "util/text.h"

namespace lumenvale {
namespace {

using Steady = Connection::Steady;

// Connection threads at most: every place, and as many again for threads
// pushed out at the door that are still ending.
constexpr int kMaxThreads = Server::kMaxConnections + 2 * Server::kMaxStrangers;

constexpr const char* kTls13Suites = "TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_256_GCM_SHA384";

// Builds the TLS side every connection shares: the device's key and
// certificate, TLS 1.2 at the least, no client certificate. Null when the
// identity cannot be used.
SSL_CTX* makeContext(const Server::Identity& identity) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context == nullptr) return nullptr;
  bool ok = SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) == 1;
  // Laptops that drop the TCP connection without close_notify have simply
  // gone; that is an end of stream, not an error.
  SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
  // The device chooses the TLS 1.3 suite: AES-128-GCM, the cheapest per
  // byte where the processor has AES instructions, whatever order the
  // laptop lists them in; ChaCha20 still for a laptop that lists it first,
  // which is how one without AES instructions asks for it.
  SSL_CTX_set_options(context, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_PRIORITIZE_CHACHA);
  ok = ok && SSL_CTX_set_ciphersuites(context, kTls13Suites) == 1;
  SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  const auto* der = reinterpret_cast<const unsigned char*>(identity.certificateDer.data());
  ok = ok && SSL_CTX_use_certificate_ASN1(context, static_cast<int>(identity.certificateDer.size()), der) == 1;
  BIO* pem = BIO_new_mem_buf(identity.privateKeyPem.data(), static_cast<int>(identity.privateKeyPem.size()));
  EVP_PKEY* key = pem != nullptr ? PEM_read_bio_PrivateKey(pem, nullptr, nullptr, nullptr) : nullptr;
  ok = ok && key != nullptr && SSL_CTX_use_PrivateKey(context, key) == 1 && SSL_CTX_check_private_key(context) == 1;
  EVP_PKEY_free(key);
  BIO_free(pem);
  if (!ok) {
    SSL_CTX_free(context);
    return nullptr;
  }
  return context;
}

bool isClose(const std::optional<std::string>& value) {
  if (!value || value->size() != 5) return false;
  return Text::asciiLower(*value) == "close";
}

}  // namespace

Server::Server(Handler handler, Identity identity, std::string name, const std::string& deviceId,
               const std::string& fingerprint, Advertiser* advertiser, Options options)
    : handler_(std::move(handler)),
      identity_(std::move(identity)),
      name_(std::move(name)),
      txt_(txtRecord({{"v", "1"}, {"id", deviceId}, {"fp", fingerprint.substr(0, 16)}, {"os", "ios"}})),
      advertiser_(advertiser),
      options_(std::move(options)),
      context_(makeContext(identity_)) {}

Server::~Server() {
  MutexLock hold(lock_);
  stopping_ = true;
  // Wakes the blocked accept(); the listener thread then closes the socket.
  if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
  hold.unlock();
  if (listener_.joinable()) listener_.join();
  hold.lock();
  for (Place* place : places_) place->connection->cancel();
  while (threads_ != 0) hold.wait(drained_);
  hold.unlock();
  SSL_CTX_free(context_);
}

std::string Server::txtRecord(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string record;
  for (const auto& [key, value] : pairs) {
    const std::string entry = key + "=" + value;
    if (entry.size() > 255) continue;
    record.push_back(static_cast<char>(entry.size()));
    record += entry;
  }
  return record;
}

void Server::start() {
  {
    MutexLock hold(lock_);
    if (listening_ || stopping_) return;
    listening_ = true;
  }
  // A send to a laptop that has gone must fail, not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  if (listener_.joinable()) listener_.join();  // the last listener thread has ended
  listener_ = std::thread([this] { listen(); });
}

void Server::fail(const std::string& reason) {
  {
    MutexLock hold(lock_);
    listening_ = false;
    if (stopping_) return;
  }
  if (onPort_) onPort_(std::nullopt, reason);
}

namespace {

// What binding one address to the ports of the range came to.
struct Bound {
  int fd = -1;  // the listening socket, when one port could be had
  std::uint16_t port = 0;
  int error = 0;  // else why not: EADDRINUSE when every port is taken
};

Bound bindFirstFree(ListenAddress& listening) {
  Bound bound;
  for (int port = Server::kFirstPort; port <= Server::kLastPort; ++port) {
    const int fd = ::socket(listening.family(), SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      bound.error = errno;
      return bound;
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (listening.family() == AF_INET6) {
      // Set either way: the system's default (net.ipv6.bindv6only) may be
      // either.
      const int v6Only = listening.dualStack ? 0 : 1;
      ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
      reinterpret_cast<sockaddr_in6&>(listening.address).sin6_port = htons(static_cast<std::uint16_t>(port));
    } else {
      reinterpret_cast<sockaddr_in&>(listening.address).sin_port = htons(static_cast<std::uint16_t>(port));
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&listening.address), listening.length) == 0 &&
        ::listen(fd, SOMAXCONN) == 0) {
      bound.fd = fd;
      bound.port = static_cast<std::uint16_t>(port);
      return bound;
    }
    bound.error = errno;
    ::close(fd);
    if (bound.error != EADDRINUSE) return bound;
  }
  return bound;
}

}  // namespace

void Server::listen() {
  if (context_ == nullptr) return fail("The device's identity cannot be used for TLS.");
  std::vector<ListenAddress> choices = ListenAddress::choices(options_.address);
  if (choices.empty()) return fail("\"" + options_.address + "\" is not an IPv4 or IPv6 address.");
  for (std::size_t choice = 0; choice < choices.size(); ++choice) {
    ListenAddress& listening = choices[choice];
    const Bound bound = bindFirstFree(listening);
    if (bound.fd < 0) {
      // A system without IPv6 takes the next choice, the IPv4 wildcard.
      const bool noIpv6 = bound.error == EAFNOSUPPORT || bound.error == EADDRNOTAVAIL;
      if (noIpv6 && choice + 1 < choices.size()) continue;
      const std::string where = listening.wildcard() ? "" : " on " + listening.text();
      if (bound.error == EADDRINUSE) return fail("Ports 41820 to 41829 are all in use" + where + ".");
      if (bound.error == EADDRNOTAVAIL && !listening.wildcard()) {
        return fail(listening.text() + " is not an address of this machine.");
      }
      return fail("Cannot listen" + where + ": " + errnoText(bound.error) + ".");
    }
    {
      MutexLock hold(lock_);
      if (stopping_) {
        ::close(bound.fd);
        listening_ = false;
        return;
      }
      listenFd_ = bound.fd;
    }
    if (advertiser_ != nullptr) {
      // Announced only where it answers: a laptop told of another address
      // would find nobody there.
      ifaddrs* interfaces = nullptr;
      if (listening.wildcard() || ::getifaddrs(&interfaces) == 0) {
        const std::optional<Advertiser::Reach> reach = ListenAddress::reach(listening, interfaces);
        if (reach) advertiser_->advertise(name_, kServiceType, bound.port, txt_, *reach);
      }
      if (interfaces != nullptr) ::freeifaddrs(interfaces);
    }
    if (onPort_) onPort_(bound.port, "");
    return acceptLoop(bound.fd);
  }
}

void Server::acceptLoop(int listenFd) {
  int error = 0;
  for (;;) {
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      accept(fd);
      continue;
    }
    error = errno;
    if (error == EINTR || error == ECONNABORTED || error == EPROTO) continue;
    if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
      // Out of descriptors or memory for now: let connections end, then go on.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      bool stopping;
      {
        MutexLock hold(lock_);
        stopping = stopping_;
      }
      if (!stopping) continue;
    }
    break;
  }
  {
    MutexLock hold(lock_);
    ::close(listenFd_);
    listenFd_ = -1;
  }
  if (advertiser_ != nullptr) advertiser_->withdraw();
  fail(std::string("The listener stopped: ") + errnoText(error) + ".");
}

void Server::accept(int fd) {
  // Every connection starts as a stranger, with the short limit counted
  // from here: a peer that trickles its handshake gains nothing.
  const Steady::time_point firstHeadBy = Steady::now() + options_.strangerTimeout;
  auto connection = std::make_unique<Connection>(fd, context_, options_.timeout);
  auto place = std::make_unique<Place>();
  place->connection = connection.get();
  {
    MutexLock hold(lock_);
    if (stopping_ || threads_ >= kMaxThreads) return;  // closed without a word
    if (static_cast<int>(places_.size()) - laptops_ >= kMaxStrangers) {
      // The door is full: the stranger that has waited longest makes room,
      // so holding sockets open buys nothing, and a newcomer has at least
      // the time 31 more arrivals take to show its token.
      const auto oldest = std::find_if(places_.begin(), places_.end(),
                                       [](const Place* waiting) { return !waiting->laptop && !waiting->answering; });
      if (oldest == places_.end()) return;  // every stranger is being answered: closed without a word
      (*oldest)->pushedOut = true;
      (*oldest)->connection->cancel();
      places_.erase(oldest);
    }
    places_.push_back(place.get());
    ++threads_;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // Owned by the thread from here; raw, so that a thread that cannot start
  // leaves them to this one.
  Connection* served = connection.release();
  Place* counted = place.release();
  const auto end = [this](Connection* ending, Place* leaving) {
    {
      MutexLock hold(lock_);
      // Out of the list before the connection goes: nobody cancels it after.
      if (!leaving->pushedOut) {
        places_.remove(leaving);
        if (leaving->laptop) --laptops_;
      }
    }
    ending->cancel();
    delete ending;
    delete leaving;
    MutexLock hold(lock_);
    --threads_;
    drained_.notify_all();
  };
  try {
    std::thread([this, served, counted, firstHeadBy, end] {
      if (served->handshake(firstHeadBy)) serve(*served, *counted, firstHeadBy);
      end(served, counted);
    }).detach();
  } catch (const std::system_error&) {
    end(served, counted);
  }
}

bool Server::beginAnswer(Place& place) {
  MutexLock hold(lock_);
  if (place.pushedOut) return false;
  place.answering = true;
  return true;
}

void Server::endAnswer(Place& place) {
  MutexLock hold(lock_);
  place.answering = false;
}

bool Server::promote(Place& place) {
  MutexLock hold(lock_);
  if (place.laptop) return true;
  if (place.pushedOut || laptops_ >= kMaxConnections) return false;
  place.laptop = true;
  ++laptops_;
  return true;
}

// The sink a handler answers on: the connection itself, and the server's
// ear for a valid token.
class Server::Answering : public ByteSink {
 public:
  Answering(Server& server, Connection& connection, Place& place)
      : server_(server), connection_(connection), place_(place) {}

  void send(std::string_view bytes) override { connection_.send(bytes); }
  void queue(std::string_view bytes) override { connection_.queue(bytes); }
  bool peerGone() const override { return connection_.peerGone(); }

  // A ninth laptop is not answered, as if the door had been shut.
  void authenticated() override {
    if (!server_.promote(place_)) throw ConnectionClosed();
    connection_.useLargeWrites();
  }

 private:
  Server& server_;
  Connection& connection_;
  Place& place_;
};

namespace {

// sendError answers with the JSON error body of `error`; false when the
// send itself failed.
bool sendError(Connection& connection, const HttpError& error) {
  try {
    connection.send(Http::error(error));
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

void Server::serve(Connection& connection, Place& place, Steady::time_point firstHeadBy) {
  RequestReader reader(connection);
  // A stranger's body, once its head is in, has a laptop's time: a pairing
  // or a safe list on a slow network is not cut for its size.
  reader.setOnHead([&] {
    if (!place.laptop) connection.receiveBy(Steady::now() + options_.timeout);
  });
  Steady::time_point headBy = firstHeadBy;
  for (;;) {
    // A laptop's whole next request, head and body, arrives within the
    // time-out however its bytes trickle in; a stranger's head within the
    // short one. place.laptop changes only on this thread.
    connection.receiveBy(place.laptop ? Steady::now() + options_.timeout : headBy);
    std::optional<HttpRequest> request;
    try {
      request = reader.next();
    } catch (const HttpError& error) {
      // A malformed request is answered, then the connection closes: what
      // follows it on the stream cannot be trusted to start a request.
      if (beginAnswer(place)) {
        sendError(connection, error);
        endAnswer(place);
      }
      return;
    } catch (...) {
      return;
    }
    if (!request || !beginAnswer(place)) return;
    bool keep = true;
    try {
      Answering sink(*this, connection, place);
      handler_(*request, sink);
      connection.flush();  // nothing the handler queued is left behind
    } catch (const HttpError& error) {
      keep = sendError(connection, error);
    } catch (...) {
      keep = false;
    }
    endAnswer(place);
    if (!keep || isClose(request->header("connection"))) return;
    headBy = Steady::now() + options_.strangerTimeout;
  }
}

}  // namespace lumenvale
