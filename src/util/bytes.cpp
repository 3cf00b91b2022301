#include "util/bytes.h"

#include <openssl/rand.h>

#include <climits>
#include <stdexcept>

namespace lumenvale::Bytes {

std::string hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0f]);
  }
  return text;
}

bool equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  // Read through a volatile so the compiler cannot turn the loop into an
  // early-exit comparison.
  volatile unsigned char result = difference;
  return result == 0;
}

std::string random(std::size_t count) {
  std::string bytes(count, '\0');
  if (count == 0) return bytes;
  if (count > static_cast<std::size_t>(INT_MAX)) {
    throw std::length_error("Bytes::random: count too large");
  }
  if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) != 1) {
    throw std::runtime_error("The system's secure random generator failed.");
  }
  return bytes;
}

std::string newUuid() {
  std::string bytes = random(16);
  bytes[6] = static_cast<char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<char>((bytes[8] & 0x3F) | 0x80);
  const std::string text = hex(bytes);
  return text.substr(0, 8) + '-' + text.substr(8, 4) + '-' + text.substr(12, 4) + '-' + text.substr(16, 4) + '-' +
         text.substr(20);
}

}  // namespace lumenvale::Bytes
