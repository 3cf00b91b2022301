// The two endpoints through which a laptop acts on what it has copied: the
// safe list, and the request to delete.
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/api.h"
#include "transport/http.h"
#include "util/identifiers.h"

namespace lumenvale {
namespace {

HttpError badList() {
  return HttpError(400, "bad_request", "A safe list carries 0 to 500 items of an operation with an id and a total.");
}

HttpError badItem() {
  return HttpError(400, "bad_request", "Each item of a safe list needs an asset id and its modified time.");
}

constexpr std::size_t kMaxSafeItems = 500;

HttpError badDeleteItem() {
  return HttpError(400, "bad_request", "Each item needs an id, a rid and a 64-character sha256.");
}

// text returns the string member `key` of `item` when it has `shortest` to
// `longest` characters, all in `allowed`.
std::optional<std::string> text(const nlohmann::json& item, const char* key, std::size_t shortest, std::size_t longest,
                                std::string_view allowed) {
  const auto found = item.find(key);
  if (found == item.end() || !found->is_string()) return std::nullopt;
  const std::string& value = found->get_ref<const std::string&>();
  if (value.size() < shortest || value.size() > longest) return std::nullopt;
  if (value.find_first_not_of(allowed) != std::string::npos) return std::nullopt;
  return value;
}

// deleteItems reads the "items" of a delete request in their order, or
// throws HttpError 400.
std::vector<DeleteItem> deleteItems(const nlohmann::json& body) {
  const auto items = body.find("items");
  if (items == body.end() || !items->is_array()) throw badDeleteItem();
  if (items->empty() || items->size() > Deleter::kMaxItems) {
    throw HttpError(400, "bad_request", "A delete carries 1 to 500 items.");
  }
  std::vector<DeleteItem> parsed;
  parsed.reserve(items->size());
  for (const nlohmann::json& element : *items) {
    if (!element.is_object()) throw badDeleteItem();
    auto id = text(element, "id", 1, Identifiers::kMaxIdLength, Identifiers::idCharacters);
    auto rid = text(element, "rid", 1, Identifiers::kMaxRidLength, Identifiers::ridCharacters);
    auto sha256 = text(element, "sha256", 64, 64, Identifiers::hexCharacters);
    if (!id || !rid || !sha256) throw badDeleteItem();
    parsed.push_back({std::move(*id), std::move(*rid), std::move(*sha256)});
  }
  return parsed;
}

// refusal says to the laptop why its delete deleted nothing.
HttpError refusal(DeleteRefused::Reason reason) {
  switch (reason) {
    case DeleteRefused::Reason::busy:
      return HttpError(409, "busy", "Another delete is waiting for an answer on the phone.");
    case DeleteRefused::Reason::noOneToAsk:
      return HttpError(503, "no_one_to_ask",
                       "No one can answer on the device: open the app or run it in a terminal. Nothing was deleted.");
    case DeleteRefused::Reason::cancelled:
      break;
  }
  return HttpError(409, "cancelled", "The delete was cancelled on the phone. Nothing was deleted.");
}

// count reads a JSON number that holds a whole count: no fraction, not
// negative, within the signed 64-bit range. Booleans are not numbers here.
std::optional<std::int64_t> count(const nlohmann::json& value) {
  if (value.is_number_unsigned()) {
    const auto n = value.get<std::uint64_t>();
    if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(n);
  }
  if (value.is_number_integer()) {
    const auto n = value.get<std::int64_t>();
    return n < 0 ? std::nullopt : std::optional(n);
  }
  if (value.is_number_float()) {
    const double n = value.get<double>();
    // 2^63 itself is out of range; every double below it converts exactly.
    if (!std::isfinite(n) || n < 0 || n != std::floor(n) || n >= 9223372036854775808.0) return std::nullopt;
    return static_cast<std::int64_t>(n);
  }
  return std::nullopt;
}

// idOf returns the string member "id" of `object` when it is a valid id.
std::optional<std::string> idOf(const nlohmann::json& object) {
  const auto found = object.find("id");
  if (found == object.end() || !found->is_string()) return std::nullopt;
  const std::string& id = found->get_ref<const std::string&>();
  if (!Identifiers::validId(id)) return std::nullopt;
  return id;
}

}  // namespace

nlohmann::json Api::objectBody(const HttpRequest& request) {
  const HttpError refusal(400, "bad_request", "The body is not the JSON this path expects.");
  nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) throw refusal;
  return body;
}

void Api::safe(const Laptop& laptop, SafeMarks& marks, const HttpRequest& request, ByteSink& sink) const {
  const nlohmann::json body = objectBody(request);

  const auto items = body.find("items");
  if (items == body.end() || !items->is_array() || items->size() > kMaxSafeItems) throw badList();
  const auto operation = body.find("operation");
  if (operation == body.end() || !operation->is_object() || operation->empty()) throw badList();
  const std::optional<std::string> op = idOf(*operation);
  const auto totalValue = operation->find("total");
  const std::optional<std::int64_t> total = totalValue == operation->end() ? std::nullopt : count(*totalValue);
  if (!op || !total || (*total == 0 && !items->empty())) throw badList();
  // Checked before any item is read or kept: the pieces of an operation
  // wait in memory until its total is reached.
  const std::int64_t allowed = SafeMarks::allowedTotal(library_.count());
  if (*total > allowed) {
    throw HttpError(413, "bad_request",
                    "A safe list holds at most " + std::to_string(allowed) +
                        " assets here: the phone's library and a margin for photos that left it.");
  }

  std::vector<SafeMarks::Item> pairs;
  pairs.reserve(items->size());
  for (const nlohmann::json& item : *items) {
    if (!item.is_object()) throw badItem();
    std::optional<std::string> id = idOf(item);
    const auto modified = item.find("modified");
    if (!id || modified == item.end() || !modified->is_string() || modified->get_ref<const std::string&>().empty()) {
      throw badItem();
    }
    if (modified->get_ref<const std::string&>().size() > SafeMarks::kMaxModifiedLength) {
      throw HttpError(400, "bad_request",
                      "The modified time of a safe-list item is at most " +
                          std::to_string(SafeMarks::kMaxModifiedLength) + " characters.");
    }
    pairs.emplace_back(std::move(*id), modified->get<std::string>());
  }

  const bool complete = marks.receive(laptop.id, pairs, *op, *total);
  sink.send(Http::json(200, {{"complete", complete}}));
}

void Api::deleteAssets(const HttpRequest& request, ByteSink& sink) const {
  // Asked before the body is read: with deleting off, nothing about the
  // request matters.
  const bool on = callbacks_.deleteState && callbacks_.deleteState() == "on";
  if (!on || !callbacks_.deleter) throw HttpError(403, "delete_off", "Deleting is turned off on the phone.");
  const std::vector<DeleteItem> items = deleteItems(objectBody(request));
  DeleteOutcome outcome;
  try {
    outcome = callbacks_.deleter->deleteAssets(items, [&sink] { return !sink.peerGone(); });
  } catch (const DeleteRefused& refused) {
    throw refusal(refused.reason);
  }
  nlohmann::json kept = nlohmann::json::array();
  for (const auto& [id, reason] : outcome.kept) kept.push_back({{"id", id}, {"reason", reason}});
  sink.send(Http::json(200, {{"deleted", outcome.deleted}, {"kept", std::move(kept)}}));
}

}  // namespace lumenvale
