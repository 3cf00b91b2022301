// Fuzzes the pair endpoint's body through the router, with the real pairing
// state and laptops store (its file in a scratch folder). The input's
// first byte, when odd, asks for the right proof: the body is then read as
// JSON and, when it names a string laptopId, given the proof that laptop
// would compute from the code on screen. The rest is the body. Only such a
// body may pair, and a pairing must answer a token that finds the laptop
// under its id and its name cut as the store cuts names; anything else is
// refused with 400, 403 or 429.
//
// State is kept between inputs: a fresh Pairing would derive a key (100,000
// rounds of PBKDF2) for every input. Its clock moves one second per input,
// so lockouts end and codes expire as they would. The right proof is given
// to the first asking input and one in 16 after it, since every pairing
// derives a new key and the target would otherwise spend its time there.
#include <cstddef>
#include <cstdint>
#include <string>

#include "api/api.h"
#include "api_answer.h"
#include "fuzz_support.h"
#include "library/photo_library.h"
#include "support/memory_photo_store.h"
#include "support/pairing_recipe.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/text.h"

namespace lumenvale::fuzz {
namespace {

const std::string kFingerprint(64, 'c');

struct Fixture {
  Fixture()
      : pairing(kFingerprint, [this] { return now; }),
        laptops(folder.path() + "/laptops.json"),
        library(store, nullptr, [] { return std::string("UTC"); }),
        api(pairing, laptops, library, callbacks()) {}

  static Api::Callbacks callbacks() {
    Api::Callbacks callbacks;
    callbacks.info = [] { return DeviceInfo{"device-1", "Fuzz Device", "x86_64", "0", kFingerprint}; };
    return callbacks;
  }

  // rightProof returns the proof for `laptopId` under the code shown now.
  std::string rightProof(const std::string& laptopId) {
    const std::string symbols = pairing.current().symbols;
    if (symbols != keySymbols) {
      key = testing::pairingKey(symbols, kFingerprint);
      keySymbols = symbols;
    }
    return Bytes::hex(Crypto::hmacSha256(key, testing::kProofLabel + kFingerprint + "|" + laptopId));
  }

  TimePoint now = TimePoint(std::chrono::seconds(1700000000));
  ScratchFolder folder{"pair"};  // laptops.json: a laptop is paired once its file holds it
  Pairing pairing;
  Laptops laptops;
  testing::MemoryPhotoStore store;
  PhotoLibrary library;
  Api api;
  std::string keySymbols;
  std::string key;
  int proofsAsked = 0;
};

}  // namespace
}  // namespace lumenvale::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumenvale;
  using fuzz::require;
  static fuzz::Fixture fixture;
  if (size == 0) return 0;
  fixture.now += std::chrono::seconds(1);
  std::string body(reinterpret_cast<const char*>(data + 1), size - 1);

  bool proofGiven = false;
  if ((data[0] & 1) != 0 && fixture.proofsAsked++ % 16 == 0) {
    nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    if (parsed.is_object() && parsed.contains("laptopId") && parsed["laptopId"].is_string()) {
      parsed["proof"] = fixture.rightProof(parsed["laptopId"].get<std::string>());
      body = parsed.dump();
      proofGiven = true;
    }
  }

  const nlohmann::json sent = nlohmann::json::parse(body, nullptr, false);
  const fuzz::Answer answer = fuzz::post(fixture.api, "/v1/pair", body);
  switch (answer.status) {
    case 200: {
      require(proofGiven, "only the right proof pairs");
      const std::string laptopId = sent.at("laptopId").get<std::string>();
      const std::string token = answer.body.at("token").get<std::string>();
      require(token.size() == 43 && answer.body.at("proof").get<std::string>().size() == 64,
              "a pairing answers a token and the device's proof");
      const std::optional<Laptop> laptop = fixture.laptops.find(token);
      require(laptop && laptop->id == laptopId, "the token finds the laptop that paired");
      const auto name = sent.find("laptopName");
      const std::string sentName = name != sent.end() && name->is_string() ? name->get<std::string>() : "";
      require(laptop->name == Text::graphemePrefix(Text::withoutHidden(sentName), Laptops::kMaxNameLength),
              "the laptop is kept under the name it sent, without hidden characters, cut to 100");
      fixture.laptops.forget(laptopId);
      break;
    }
    case 400:
      require(answer.body.at("error") == "bad_request", "a malformed pairing is a bad request");
      break;
    case 403:
      require(answer.body.at("error") == "bad_code", "a wrong proof is a bad code");
      break;
    case 429:
      require(answer.body.at("error") == "locked", "too many wrong codes lock pairing");
      break;
    default:
      require(false, "a pairing is answered 200, 400, 403 or 429");
  }
  return 0;
}
