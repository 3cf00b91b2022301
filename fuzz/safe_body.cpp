// Fuzzes the safe-list endpoint's body through the router, from a paired
// laptop, into a fresh safe marks store for every input (one that never
// reaches the disk). The whole input is the body. A list is refused with
// 400 (413 when its total is past what the library could hold), or accepted: complete exactly when its distinct ids
// reach the operation's total, and then the laptop's marks are those ids, each with the last modified time sent for it.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "api/api.h"
#include "api_answer.h"
#include "fuzz_support.h"
#include "library/photo_library.h"
#include "support/memory_photo_store.h"

namespace lumenvale::fuzz {
namespace {

const std::string kToken = "fuzz-token";
const std::string kLaptop = "laptop-1";

struct Fixture {
  Fixture()
      : pairing(std::string(64, 'c')),
        laptops(folder.path() + "/laptops.json"),
        library(store, nullptr, [] { return std::string("UTC"); }) {
    laptops.add(kLaptop, "Desk", kToken, systemNow());
  }

  ScratchFolder folder{"safe"};  // laptops.json: a laptop is paired once its file holds it
  Pairing pairing;
  Laptops laptops;
  testing::MemoryPhotoStore store;
  PhotoLibrary library;
};

}  // namespace
}  // namespace lumenvale::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumenvale;
  using fuzz::require;
  static fuzz::Fixture fixture;
  const std::string body(reinterpret_cast<const char*>(data), size);

  Api::Callbacks callbacks;
  auto marks = std::make_shared<SafeMarks>(fuzz::kUnwritable);
  callbacks.marks = marks;
  const Api api(fixture.pairing, fixture.laptops, fixture.library, callbacks);
  const fuzz::Answer answer = fuzz::post(api, "/v1/safe", body, fuzz::kToken);

  if (answer.status == 400) {
    require(answer.body.at("error") == "bad_request", "a bad safe list is a bad request");
    require(marks->ids().empty(), "a refused list marks nothing");
    return 0;
  }
  if (answer.status == 413) {
    // A total past what this library could ever hold is refused before
    // any item is read or kept.
    const nlohmann::json sent = nlohmann::json::parse(body);
    const nlohmann::json& total = sent.at("operation").at("total");
    const auto allowed = static_cast<double>(SafeMarks::allowedTotal(fixture.library.count()));
    require(total.is_number() && total.get<double>() > allowed, "only a total past the library's bound is too large");
    require(marks->ids().empty(), "a list refused as too large marks nothing");
    return 0;
  }
  require(answer.status == 200, "a safe list is answered 200, 400 or 413");

  const nlohmann::json sent = nlohmann::json::parse(body);
  std::map<std::string, std::string> last;
  for (const nlohmann::json& item : sent.at("items")) last[item.at("id")] = item.at("modified");
  const nlohmann::json& total = sent.at("operation").at("total");
  const bool reached = total.is_number_unsigned() ? last.size() >= total.get<std::uint64_t>()
                                                  : static_cast<double>(last.size()) >= total.get<double>();
  require(answer.body.at("complete") == reached, "a list is complete when its distinct ids reach the total");

  std::set<std::string> ids;
  if (reached) {
    for (const auto& [id, modified] : last) {
      ids.insert(id);
      require(marks->laptops(id, modified) == std::vector<std::string>{fuzz::kLaptop},
              "a complete list marks each id with its last modified time");
    }
  }
  require(marks->ids() == ids, "the marks are the complete list's ids, or none");
  return 0;
}
