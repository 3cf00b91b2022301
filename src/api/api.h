// The one object that answers laptops: routes each request by method and
// path, checks the identifiers in the path, authenticates paired laptops by
// bearer token, and calls the endpoint's handler, which writes the answer.
// Shared by every connection thread; holds no mutable state of its own (the
// stores it calls guard themselves). Failures are thrown as HttpError.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "library/library.h"
#include "library/library_access.h"
#include "pairing/laptops.h"
#include "pairing/pairing.h"
#include "safety/delete_handler.h"
#include "safety/safe_marks.h"
#include "transport/byte_stream.h"
#include "transport/http_request.h"
#include "util/identifiers.h"

namespace lumenvale {

// Who this device is, built once at start and reported by the info endpoint.
struct DeviceInfo {
  std::string deviceId;
  std::string name;
  std::string model;  // the kernel's machine name, for example aarch64
  std::string appVersion;
  std::string fingerprint;
};

// orNull gives the value itself, or JSON null when it is absent, so that
// absent fields are written as null rather than left out.
nlohmann::json orNull(const std::optional<std::string>& value);
nlohmann::json orNull(const std::optional<double>& value);

// Told of files that begin and end streaming to a laptop. Implemented by
// the owner of the server; calls must only hand the news on, not block.
class Transfers {
 public:
  virtual ~Transfers() = default;
  // began: a file of asset `asset` (its wire id) starts streaming.
  virtual void began(const std::string& asset) = 0;
  // ended: that file's response is over after `bytes` body bytes.
  virtual void ended(std::int64_t bytes, bool wholeFile) = 0;
};

class Api {
 public:
  struct Storage {
    std::int64_t total = 0;
    std::int64_t free = 0;
  };

  // Every collaborator but the two stores is a callback into the program
  // that owns the server; each must be safe to call from any connection
  // thread and must not block.
  struct Callbacks {
    std::function<DeviceInfo()> info;
    std::function<std::string()> deleteState;         // "on" or "off"
    std::function<void(const Laptop&)> onRequest;     // told before each authenticated handler
    std::function<LibraryAccess()> access;            // laptops read "partial" for `limited`
    std::function<std::optional<Storage>()> storage;  // nothing when unknown
    std::weak_ptr<Transfers> transfers;               // held weakly: may be gone
    // The two collaborators that may be missing: without marks there is no
    // safe-list endpoint; without a deleter every delete is refused as off.
    std::shared_ptr<SafeMarks> marks;
    std::shared_ptr<Deleter> deleter;
  };

  static constexpr std::string_view idCharacters = Identifiers::idCharacters;
  static constexpr std::string_view ridCharacters = Identifiers::ridCharacters;
  static constexpr std::string_view hexCharacters = Identifiers::hexCharacters;
  static constexpr std::size_t kMaxIdLength = Identifiers::kMaxIdLength;
  static constexpr std::size_t kMaxRidLength = Identifiers::kMaxRidLength;
  static constexpr std::int64_t kDefaultPageSize = 200;
  static constexpr std::int64_t kMaxPageSize = 500;
  static constexpr std::int64_t kDefaultThumbnailSize = 200;
  static constexpr std::int64_t kMinThumbnailSize = 32;
  static constexpr std::int64_t kMaxThumbnailSize = 512;

  // The stores and the library must outlive the Api.
  Api(Pairing& pairing, Laptops& laptops, const Library& library, Callbacks callbacks);

  // route answers one request on `sink`, or throws HttpError; failures of
  // the sink pass through.
  void route(const HttpRequest& request, ByteSink& sink) const;

  // token returns the bearer token of the request: the Authorization value
  // after exactly "Bearer ", trimmed (possibly empty); nothing otherwise.
  static std::optional<std::string> token(const HttpRequest& request);

  // validId: 1 to 128 id characters. validRID: 1 to 16 rid characters.
  static bool validId(std::string_view id);
  static bool validRID(std::string_view rid);

  // containsOnly reports whether every character of `text` is in `allowed`.
  static bool containsOnly(std::string_view text, std::string_view allowed);

 private:
  // authenticate returns the paired laptop whose token the request carries,
  // having told `sink` so, or throws 401.
  Laptop authenticate(const HttpRequest& request, ByteSink& sink) const;
  void sendInfo(const HttpRequest& request, ByteSink& sink) const;
  void pair(const HttpRequest& request, ByteSink& sink) const;
  void assets(const HttpRequest& request, ByteSink& sink) const;
  void thumb(std::string_view id, const HttpRequest& request, ByteSink& sink) const;
  void res(std::string_view id, std::string_view rid, const HttpRequest& request, ByteSink& sink) const;
  void sha256(std::string_view id, std::string_view rid, ByteSink& sink) const;
  // objectBody parses the request body as a JSON object, or throws 400.
  static nlohmann::json objectBody(const HttpRequest& request);
  void safe(const Laptop& laptop, SafeMarks& marks, const HttpRequest& request, ByteSink& sink) const;
  void deleteAssets(const HttpRequest& request, ByteSink& sink) const;

  Pairing& pairing_;
  Laptops& laptops_;
  const Library& library_;
  Callbacks callbacks_;
};

}  // namespace lumenvale
