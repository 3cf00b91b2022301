// The character sets every identifier a laptop sends is checked against:
// asset ids, resource ids and hex digests, the same on every endpoint.
#pragma once

#include <cstddef>
#include <string_view>

namespace lumenvale::Identifiers {

inline constexpr std::string_view idCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._~-";
inline constexpr std::string_view ridCharacters = "abcdefghijklmnopqrstuvwxyz0123456789";
inline constexpr std::string_view hexCharacters = "0123456789abcdef";
inline constexpr std::size_t kMaxIdLength = 128;
inline constexpr std::size_t kMaxRidLength = 16;

// containsOnly reports whether every character of `text` is in `allowed`.
inline bool containsOnly(std::string_view text, std::string_view allowed) {
  return text.find_first_not_of(allowed) == std::string_view::npos;
}

// validId: 1 to 128 id characters. validRID: 1 to 16 rid characters.
inline bool validId(std::string_view id) {
  return !id.empty() && id.size() <= kMaxIdLength && containsOnly(id, idCharacters);
}
inline bool validRID(std::string_view rid) {
  return !rid.empty() && rid.size() <= kMaxRidLength && containsOnly(rid, ridCharacters);
}

}  // namespace lumenvale::Identifiers
