// Fuzzes the query-string parser with the input as the text after '?'. A
// query it accepts must hold UTF-8 only, and must read back the same once
// its names and values are percent-encoded again, as a laptop would send
// them; anything else it refuses with 400.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "transport/request_reader.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumenvale;
  using fuzz::require;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  std::map<std::string, std::string> query;
  try {
    query = RequestReader::parseQuery(input);
  } catch (const HttpError& refusal) {
    require(refusal.status == 400 && refusal.code == "bad_request", "a bad query is refused with 400");
    return 0;
  }

  std::string encoded;
  for (const auto& [name, value] : query) {
    require(Text::isValidUtf8(name) && Text::isValidUtf8(value), "decoded names and values are UTF-8");
    if (!encoded.empty()) encoded += '&';
    encoded += Text::percentEncoded(name) + "=" + Text::percentEncoded(value);
  }
  require(RequestReader::parseQuery(encoded) == query, "an encoded query reads back the same");
  return 0;
}
