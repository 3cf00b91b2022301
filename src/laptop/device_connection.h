// One HTTPS connection to a device, kept open between requests, that trusts
// exactly one certificate: the one whose SHA-256 was pinned when pairing.
// Any other certificate ends the connection before a byte of a request (or
// the token) is sent. Used by one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>

typedef void CURL;

namespace lumenvale::laptop {

// A failure to reach the device or to talk with it; `what()` says it for
// the user.
class ConnectionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The device answered with a certificate other than the pinned one: never
// worth trying again.
class CertificateMismatch : public ConnectionError {
 public:
  using ConnectionError::ConnectionError;
};

struct Response {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;                            // empty for a streamed body

  std::optional<std::string> header(const std::string& name) const;
  // json parses the body; a body that is not JSON gives a discarded value.
  nlohmann::json json() const;
};

class DeviceConnection {
 public:
  // `pinned` is the certificate's fingerprint (64 lower-case hex digits);
  // without one, any certificate is accepted and its fingerprint is kept
  // (for pairing, which checks it by other means).
  DeviceConnection(std::string host, std::uint16_t port, std::optional<std::string> pinned, std::string token = "");
  ~DeviceConnection();
  DeviceConnection(const DeviceConnection&) = delete;
  DeviceConnection& operator=(const DeviceConnection&) = delete;

  // get and post answer whole responses. Throw ConnectionError.
  Response get(const std::string& path);
  Response post(const std::string& path, const nlohmann::json& body);

  // Body is told each piece of a streamed body in order, after `head` has
  // been told the status and headers; it returns false to stop.
  using Head = std::function<bool(const Response& head)>;
  using Body = std::function<bool(std::string_view piece)>;
  // stream asks for `path` (from byte `from` when above 0) and hands the
  // body on as it arrives. Returns the status and headers.
  Response stream(const std::string& path, std::int64_t from, const Head& head, const Body& body);

  // setConnectTimeout bounds each connection attempt (15 s unless set).
  void setConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }

  // seenFingerprint is the fingerprint of the certificate of the last
  // connection made.
  const std::string& seenFingerprint() const;

  // What the certificate check knows: the fingerprint wanted, and the one seen.
  struct Pin;

 private:
  Response perform(const std::string& path, const std::string* postBody, std::int64_t from, const Head* head,
                   const Body* body);

  const std::string base_;
  const std::string token_;
  std::unique_ptr<Pin> pin_;
  CURL* curl_ = nullptr;
  std::chrono::milliseconds connectTimeout_{15000};
};

// errorText says an API refusal in the user's words: the device's own
// message, and what to do for the ones a user can act on.
std::string errorText(const Response& response);

}  // namespace lumenvale::laptop
