// A laptop's side of one connection for tests: TLS to 127.0.0.1 that pins
// the device's certificate by fingerprint, raw bytes out, HTTP responses in
// (Content-Length and chunked bodies). Used from one test thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lumenvale::testing {

struct HttpResponse {
  int status = 0;
  std::string statusLine;
  std::vector<std::pair<std::string, std::string>> headers;  // as sent, in order
  std::string body;

  std::optional<std::string> header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
      if (key.size() == name.size() &&
          std::equal(key.begin(), key.end(), name.begin(),
                     [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
        return value;
      }
    }
    return std::nullopt;
  }
};

class TlsClient {
 public:
  // connect returns a client whose handshake completed, or nothing (refused,
  // closed during the handshake, or a certificate whose fingerprint is not
  // `pin` when one is given).
  // `suites`, when given, are the TLS 1.3 cipher suites offered, in the
  // client's order of preference.
  static std::unique_ptr<TlsClient> connect(std::uint16_t port, std::optional<std::string> pin = std::nullopt,
                                            std::chrono::seconds timeout = std::chrono::seconds(10),
                                            const char* suites = nullptr) {
    // A write to a connection the device closed must fail, not end the test.
    ::signal(SIGPIPE, SIG_IGN);
    auto client = std::unique_ptr<TlsClient>(new TlsClient());
    client->fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{static_cast<time_t>(timeout.count()), 0};
    ::setsockopt(client->fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(client->fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (::connect(client->fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return nullptr;
    client->context_ = SSL_CTX_new(TLS_client_method());
    // The device's certificate is self-signed: trust comes from the pin.
    SSL_CTX_set_verify(client->context_, SSL_VERIFY_NONE, nullptr);
    if (suites != nullptr && SSL_CTX_set_ciphersuites(client->context_, suites) != 1) return nullptr;
    client->ssl_ = SSL_new(client->context_);
    SSL_set_fd(client->ssl_, client->fd_);
    if (SSL_connect(client->ssl_) != 1) return nullptr;
    client->fingerprint_ = client->peerFingerprint();
    if (pin && client->fingerprint_ != *pin) return nullptr;
    return client;
  }

  ~TlsClient() {
    if (ssl_ != nullptr) SSL_free(ssl_);
    if (context_ != nullptr) SSL_CTX_free(context_);
    if (fd_ >= 0) ::close(fd_);
  }

  const std::string& fingerprint() const { return fingerprint_; }
  std::string protocol() const { return SSL_get_version(ssl_); }
  std::string cipher() const { return SSL_CIPHER_get_name(SSL_get_current_cipher(ssl_)); }

  bool send(std::string_view bytes) {
    return SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
  }

  // request sends a GET or POST with a Host header and the given extras.
  bool request(const std::string& method, const std::string& target, const std::string& extraHeaders = "",
               const std::optional<std::string>& body = std::nullopt) {
    std::string text = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders;
    if (body) text += "Content-Length: " + std::to_string(body->size()) + "\r\n";
    text += "\r\n";
    if (body) text += *body;
    return send(text);
  }

  // response reads one whole response; nothing when the connection ends
  // first or nothing arrives within the socket time-out.
  std::optional<HttpResponse> response() {
    std::size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (!fill()) return std::nullopt;
    }
    HttpResponse response;
    const std::string head = buffer_.substr(0, end);
    buffer_.erase(0, end + 4);
    std::size_t lineEnd = head.find("\r\n");
    response.statusLine = head.substr(0, lineEnd);
    response.status = std::stoi(response.statusLine.substr(9, 3));
    while (lineEnd != std::string::npos) {
      const std::size_t start = lineEnd + 2;
      lineEnd = head.find("\r\n", start);
      const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
      const std::size_t colon = line.find(": ");
      response.headers.emplace_back(line.substr(0, colon), line.substr(colon + 2));
    }
    if (response.header("Transfer-Encoding") == "chunked") {
      for (;;) {
        std::size_t sizeEnd;
        while ((sizeEnd = buffer_.find("\r\n")) == std::string::npos) {
          if (!fill()) return std::nullopt;
        }
        const std::size_t size = std::stoul(buffer_.substr(0, sizeEnd), nullptr, 16);
        while (buffer_.size() < sizeEnd + 2 + size + 2) {
          if (!fill()) return std::nullopt;
        }
        response.body += buffer_.substr(sizeEnd + 2, size);
        buffer_.erase(0, sizeEnd + 2 + size + 2);
        if (size == 0) break;
      }
    } else {
      const std::size_t length = std::stoul(response.header("Content-Length").value_or("0"));
      while (buffer_.size() < length) {
        if (!fill()) return std::nullopt;
      }
      response.body = buffer_.substr(0, length);
      buffer_.erase(0, length);
    }
    return response;
  }

  // drain reads and drops whatever arrives for up to `timeout` and returns
  // how many bytes that was and whether the device ended the connection.
  std::pair<std::size_t, bool> drain(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    timeval slice{0, 100000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
    std::size_t bytes = buffer_.size();
    buffer_.clear();
    char chunk[65536];
    while (std::chrono::steady_clock::now() < deadline) {
      errno = 0;
      ERR_clear_error();
      const int got = SSL_read(ssl_, chunk, sizeof chunk);
      if (got > 0) {
        bytes += static_cast<std::size_t>(got);
        continue;
      }
      const int error = SSL_get_error(ssl_, got);
      const bool waiting = error == SSL_ERROR_WANT_READ ||
                           (error == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EWOULDBLOCK));
      if (!waiting) return {bytes, true};
    }
    return {bytes, false};
  }

  // closedByPeer reports whether the device ends the connection (rather
  // than sending more, or nothing) within `timeout`. TLS records that carry
  // no data, such as session tickets, are read past.
  bool closedByPeer(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    timeval slice{0, 100000};
    timeval saved{};
    socklen_t size = sizeof saved;
    ::getsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &saved, &size);
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice);
    bool closed = false;
    while (std::chrono::steady_clock::now() < deadline) {
      char byte;
      errno = 0;
      // An error another connection left in this thread's queue would
      // read as this one failing.
      ERR_clear_error();
      const int got = SSL_read(ssl_, &byte, 1);
      if (got > 0) {
        buffer_.push_back(byte);
        break;
      }
      const int error = SSL_get_error(ssl_, got);
      const bool waiting = error == SSL_ERROR_WANT_READ ||
                           (error == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EWOULDBLOCK));
      if (!waiting) {
        closed = true;
        break;
      }
    }
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &saved, sizeof saved);
    return closed;
  }

 private:
  TlsClient() = default;

  bool fill() {
    char chunk[65536];
    const int got = SSL_read(ssl_, chunk, sizeof chunk);
    if (got <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(got));
    return true;
  }

  std::string peerFingerprint() const {
    X509* certificate = SSL_get1_peer_certificate(ssl_);
    if (certificate == nullptr) return {};
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate, &der);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(der, static_cast<std::size_t>(length), digest, &size, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    X509_free(certificate);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
      hex.push_back(kDigits[digest[i] >> 4]);
      hex.push_back(kDigits[digest[i] & 15]);
    }
    return hex;
  }

  int fd_ = -1;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  std::string fingerprint_;
  std::string buffer_;
};

}  // namespace lumenvale::testing
