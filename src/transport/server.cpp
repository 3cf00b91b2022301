#include "transport/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "transport/connection.h"
#include "transport/http.h"
#include "transport/request_reader.h"

namespace lumenvale {
namespace {

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
  SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  const auto* der = reinterpret_cast<const unsigned char*>(identity.certificateDer.data());
  ok = ok && SSL_CTX_use_certificate_ASN1(context, static_cast<int>(identity.certificateDer.size()), der) == 1;
  BIO* pem = BIO_new_mem_buf(identity.privateKeyPem.data(), static_cast<int>(identity.privateKeyPem.size()));
  EVP_PKEY* key = pem != nullptr ? PEM_read_bio_PrivateKey(pem, nullptr, nullptr, nullptr) : nullptr;
  ok = ok && key != nullptr && SSL_CTX_use_PrivateKey(context, key) == 1 &&
       SSL_CTX_check_private_key(context) == 1;
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
  std::string lower = *value;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower == "close";
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
  std::unique_lock<std::mutex> hold(lock_);
  stopping_ = true;
  // Wakes the blocked accept(); the listener thread then closes the socket.
  if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
  hold.unlock();
  if (listener_.joinable()) listener_.join();
  hold.lock();
  for (Connection* connection : open_) connection->cancel();
  drained_.wait(hold, [this] { return connections_ == 0; });
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
    std::lock_guard<std::mutex> hold(lock_);
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
    std::lock_guard<std::mutex> hold(lock_);
    listening_ = false;
    if (stopping_) return;
  }
  if (onPort_) onPort_(std::nullopt, reason);
}

void Server::listen() {
  if (context_ == nullptr) return fail("The device's identity cannot be used for TLS.");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (::inet_pton(AF_INET, options_.address.c_str(), &address.sin_addr) != 1) {
    return fail("\"" + options_.address + "\" is not an IPv4 address.");
  }
  for (int port = kFirstPort; port <= kLastPort; ++port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EADDRINUSE) continue;
      return fail(std::string("Cannot listen on port ") + std::to_string(port) + ": " + std::strerror(error) + ".");
    }
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (stopping_) {
        ::close(fd);
        listening_ = false;
        return;
      }
      listenFd_ = fd;
    }
    const auto bound = static_cast<std::uint16_t>(port);
    if (advertiser_ != nullptr) advertiser_->advertise(name_, kServiceType, bound, txt_);
    if (onPort_) onPort_(bound, "");
    return acceptLoop(fd);
  }
  fail("Ports 41820 to 41829 are all in use.");
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
        std::lock_guard<std::mutex> hold(lock_);
        stopping = stopping_;
      }
      if (!stopping) continue;
    }
    break;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    ::close(listenFd_);
    listenFd_ = -1;
  }
  if (advertiser_ != nullptr) advertiser_->withdraw();
  fail(std::string("The listener stopped: ") + std::strerror(error) + ".");
}

void Server::accept(int fd) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (connections_ >= kMaxConnections || stopping_) {
      ::close(fd);  // the ninth laptop gets no answer at all
      return;
    }
    ++connections_;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const auto finished = [this] {
    std::lock_guard<std::mutex> hold(lock_);
    --connections_;
    drained_.notify_all();
  };
  try {
    std::thread([this, fd, finished] {
      {
        Connection connection(fd, context_, options_.timeout);
        bool stopping;
        {
          std::lock_guard<std::mutex> hold(lock_);
          stopping = stopping_;
          if (!stopping) open_.insert(&connection);
        }
        if (!stopping) {
          if (connection.handshake()) serve(connection);
          std::lock_guard<std::mutex> hold(lock_);
          open_.erase(&connection);
        }
        connection.cancel();
      }
      finished();
    }).detach();
  } catch (const std::system_error&) {
    ::close(fd);
    finished();
  }
}

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

void Server::serve(Connection& connection) {
  RequestReader reader(connection);
  for (;;) {
    // The whole of the next request, head and body, arrives within the
    // time-out, however its bytes trickle in.
    connection.receiveBy(Connection::Steady::now() + options_.timeout);
    std::optional<HttpRequest> request;
    try {
      request = reader.next();
    } catch (const HttpError& error) {
      // A malformed request is answered, then the connection closes: what
      // follows it on the stream cannot be trusted to start a request.
      sendError(connection, error);
      return;
    } catch (...) {
      return;
    }
    if (!request) return;
    try {
      handler_(*request, connection);
    } catch (const HttpError& error) {
      if (!sendError(connection, error)) return;
    } catch (...) {
      return;
    }
    if (isClose(request->header("connection"))) return;
  }
}

}  // namespace lumenvale
