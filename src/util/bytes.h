// Byte helpers behind every hash, token and proof: lower-case hex, a
// comparison whose time depends only on length, and secure random bytes.
// Stateless; safe to call from any thread. Byte strings are std::string.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumenvale::Bytes {

// hex returns two lower-case digits per byte, high nibble first, no separators.
std::string hex(std::string_view bytes);

// equal reports whether a and b hold the same bytes. Unequal lengths answer
// at once; equal lengths are compared over every byte, with no early exit,
// so that a token or proof check leaks nothing but the length.
bool equal(std::string_view a, std::string_view b);

// random returns `count` bytes from OpenSSL's cryptographically secure
// generator. Throws std::runtime_error if the generator fails, which only
// happens when the system cannot seed it.
std::string random(std::size_t count);

// newUuid returns a random (version 4) UUID in lower-case text form. Throws
// as random does.
std::string newUuid();

}  // namespace lumenvale::Bytes
