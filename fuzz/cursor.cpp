// Fuzzes the paging cursor: its parser, and the listing walked from it over
// a small in-memory library with runs of equal creation times and undated
// assets. The input's first byte is the page size (1 to 8), the rest the
// cursor text (none when empty). A cursor that parses must format back to
// one that parses the same; from any cursor the walk must give pages of at
// most the size, each continued by a cursor of the same form, and never the
// same asset twice.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "library/library.h"
#include "library/photo_library.h"
#include "library/rows.h"
#include "support/memory_photo_store.h"

namespace lumenvale::fuzz {
namespace {

using testing::MemoryPhotoStore;

struct Fixture {
  Fixture() : library(store, nullptr, [] { return std::string("UTC"); }) {
    store.setDelivery(MemoryPhotoStore::Delivery::inline_);
    const std::optional<Instant> created[] = {1000.0, 1000.0, 1000.0, 900.0, 900.0, 800.5, std::nullopt, std::nullopt};
    int n = 0;
    for (const std::optional<Instant>& date : created) {
      MemoryPhotoStore::StoredAsset asset = MemoryPhotoStore::photo("asset-" + std::to_string(++n));
      asset.record.creationDate = date;
      store.add(std::move(asset));
    }
  }

  static constexpr std::size_t kAssets = 8;
  MemoryPhotoStore store;
  PhotoLibrary library;
};

}  // namespace
}  // namespace lumenvale::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumenvale;
  using fuzz::require;
  static fuzz::Fixture fixture;
  if (size == 0) return 0;
  const std::int64_t limit = 1 + data[0] % 8;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  std::optional<std::string> after;
  if (!text.empty()) {
    try {
      const Rows::Cursor cursor = Rows::parse(text);
      const std::string formatted = Rows::format(cursor);
      require(Rows::parse(formatted) == cursor, "a formatted cursor parses back the same");
      require(Rows::format(Rows::parse(formatted)) == formatted, "a formatted cursor formats back the same");
    } catch (const LibraryError&) {
      try {
        fixture.library.page(text, limit);
      } catch (const LibraryError&) {
        return 0;
      }
      require(false, "the listing refuses a cursor the parser refuses");
    }
    after = std::string(text);
  }

  std::set<std::string> seen;
  for (std::size_t pages = 0;; ++pages) {
    require(pages <= fuzz::Fixture::kAssets, "the walk ends");
    const Page page = fixture.library.page(after, limit);
    require(page.assets.size() <= static_cast<std::size_t>(limit), "a page holds at most the page size");
    for (const Asset& asset : page.assets) require(seen.insert(asset.id).second, "no asset is listed twice");
    if (!page.next) break;
    require(!page.assets.empty(), "only the last page may be empty");
    require(Rows::format(Rows::parse(*page.next)) == *page.next, "the next cursor is one the device writes");
    after = page.next;
  }
  return 0;
}
