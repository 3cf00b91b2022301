#include "api/api.h"

#include <vector>

#include "transport/http.h"

namespace lumenvale {
namespace {

HttpError notFound() { return HttpError(404, "not_found", "There is nothing at this path."); }

std::vector<std::string_view> segments(std::string_view path) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t slash = path.find('/');
    parts.push_back(path.substr(0, slash));
    if (slash == std::string_view::npos) return parts;
    path.remove_prefix(slash + 1);
  }
}

}  // namespace

nlohmann::json orNull(const std::optional<std::string>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json orNull(const std::optional<double>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

Api::Api(Pairing& pairing, Laptops& laptops, const Library& library, Callbacks callbacks)
    : pairing_(pairing), laptops_(laptops), library_(library), callbacks_(std::move(callbacks)) {}

bool Api::containsOnly(std::string_view text, std::string_view allowed) {
  return Identifiers::containsOnly(text, allowed);
}

bool Api::validId(std::string_view id) { return Identifiers::validId(id); }

bool Api::validRID(std::string_view rid) { return Identifiers::validRID(rid); }

std::optional<std::string> Api::token(const HttpRequest& request) {
  const std::optional<std::string> authorization = request.header("authorization");
  constexpr std::string_view kScheme = "Bearer ";
  if (!authorization || !authorization->starts_with(kScheme)) return std::nullopt;
  std::string_view rest = std::string_view(*authorization).substr(kScheme.size());
  const auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
  while (!rest.empty() && isSpace(rest.front())) rest.remove_prefix(1);
  while (!rest.empty() && isSpace(rest.back())) rest.remove_suffix(1);
  return std::string(rest);
}

Laptop Api::authenticate(const HttpRequest& request, ByteSink& sink) const {
  const std::optional<std::string> bearer = token(request);
  std::optional<Laptop> laptop = bearer ? laptops_.find(*bearer) : std::nullopt;
  if (!laptop) throw HttpError(401, "unauthorized", "Pair this laptop with the phone first.");
  sink.authenticated();
  if (callbacks_.onRequest) callbacks_.onRequest(*laptop);
  return *laptop;
}

void Api::route(const HttpRequest& request, ByteSink& sink) const {
  const std::vector<std::string_view> parts = segments(request.path);
  if (parts.size() < 3 || !parts[0].empty() || parts[1] != "v1") throw notFound();
  const std::string_view endpoint = parts[2];

  if (request.method == "GET") {
    if (parts.size() == 3) {
      if (endpoint == "info") return sendInfo(request, sink);
      if (endpoint == "assets") {
        authenticate(request, sink);
        return assets(request, sink);
      }
      throw notFound();
    }
    // Identifiers are checked before the caller is: a malformed id is 404
    // whoever asks.
    if (parts.size() >= 5 && endpoint == "assets") {
      if (!validId(parts[3])) throw notFound();
      if (parts.size() == 5 && parts[4] == "thumb") {
        authenticate(request, sink);
        return thumb(parts[3], request, sink);
      }
      if ((parts.size() == 6 || parts.size() == 7) && parts[4] == "res") {
        if (!validRID(parts[5])) throw notFound();
        if (parts.size() == 7 && parts[6] != "sha256") throw notFound();
        authenticate(request, sink);
        if (parts.size() == 7) return sha256(parts[3], parts[5], sink);
        return res(parts[3], parts[5], request, sink);
      }
    }
    throw notFound();
  }

  if (parts.size() != 3) throw notFound();
  if (endpoint == "pair") return pair(request, sink);
  if (endpoint == "delete") {
    authenticate(request, sink);
    return deleteAssets(request, sink);
  }
  if (endpoint == "safe" && callbacks_.marks) {
    const Laptop laptop = authenticate(request, sink);
    return safe(laptop, *callbacks_.marks, request, sink);
  }
  throw notFound();
}

void Api::sendInfo(const HttpRequest& request, ByteSink& sink) const {
  const DeviceInfo info = callbacks_.info ? callbacks_.info() : DeviceInfo{};
  const std::optional<std::string> bearer = token(request);
  const bool paired = bearer && laptops_.find(*bearer).has_value();
  if (paired) sink.authenticated();
  nlohmann::json body = {
      {"v", 1},
      {"deviceId", info.deviceId},
      {"name", info.name},
      {"os", "ios"},
      {"model", info.model},
      {"appVersion", info.appVersion},
      {"fingerprint", info.fingerprint},
      {"paired", paired},
      {"delete", callbacks_.deleteState ? callbacks_.deleteState() : "off"},
      {"access", callbacks_.access && callbacks_.access() == LibraryAccess::limited ? "partial" : "full"},
  };
  if (const std::optional<Storage> storage = callbacks_.storage ? callbacks_.storage() : std::nullopt) {
    body["storage"] = {{"total", storage->total}, {"free", storage->free}};
  }
  sink.send(Http::json(200, body));
}

}  // namespace lumenvale
