// The pair endpoint: the one request that needs no token. A laptop proves
// its user read the code on the device; a match records the laptop and
// answers its token (sent this once) with the device's own proof.
#include <string>

#include "api/api.h"
#include "transport/http.h"
#include "util/text.h"

namespace lumenvale {
namespace {

constexpr std::size_t kMaxLaptopIdLength = 64;  // characters as a reader sees them
constexpr std::size_t kProofLength = 64;

HttpError badFields() {
  return HttpError(400, "bad_request", "A pairing request needs laptopId and a 64-character proof.");
}

}  // namespace

void Api::pair(const HttpRequest& request, ByteSink& sink) const {
  const nlohmann::json body = objectBody(request);

  const auto text = [&](const char* key) -> std::optional<std::string> {
    const auto found = body.find(key);
    if (found == body.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
  };
  const std::string laptopName = text("laptopName").value_or("");
  const std::optional<std::string> laptopId = text("laptopId");
  const std::optional<std::string> proof = text("proof");
  // Malformed requests never reach the pairing state, so they never count
  // as a wrong code.
  if (!laptopId || laptopId->empty() || Text::graphemeCount(*laptopId) > kMaxLaptopIdLength) throw badFields();
  if (!proof || proof->size() != kProofLength || !containsOnly(*proof, hexCharacters)) throw badFields();

  const Pairing::Result result = pairing_.attempt(*laptopId, *proof);
  switch (result.kind) {
    case Pairing::Result::Kind::paired: {
      if (!laptops_.add(*laptopId, laptopName, result.token, systemNow())) {
        throw HttpError(503, "storage_full",
                        "The phone has no room to remember this laptop. Free some space, then pair again.");
      }
      const DeviceInfo info = callbacks_.info ? callbacks_.info() : DeviceInfo{};
      sink.send(Http::json(
          200, {{"deviceId", info.deviceId}, {"name", info.name}, {"token", result.token}, {"proof", result.proof}}));
      return;
    }
    case Pairing::Result::Kind::locked:
      throw HttpError(429, "locked", "Too many wrong codes. Wait a minute, then try again.",
                      {{"Retry-After", std::to_string(result.seconds)}});
    case Pairing::Result::Kind::wrongCode:
      break;
  }
  throw HttpError(403, "bad_code", "That code is not the one on the phone.");
}

}  // namespace lumenvale
