// Character-encoding helpers for the HTTP head, whose bytes are ISO 8859-1,
// and for checking UTF-8 that arrives from the network. Stateless.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumenvale::Text {

// latin1ToUtf8 reads each byte as one ISO 8859-1 character and writes UTF-8.
std::string latin1ToUtf8(std::string_view latin1);

// utf8ToLatin1 gives the ISO 8859-1 bytes of a UTF-8 text, or nothing when
// the text is not valid UTF-8 or holds a character above U+00FF.
std::optional<std::string> utf8ToLatin1(std::string_view utf8);

// isValidUtf8 rejects overlong forms, surrogates, code points above U+10FFFF
// and truncated sequences.
bool isValidUtf8(std::string_view bytes);

// parseInteger reads a decimal integer as a general-purpose parser does: one
// optional '+' or '-', then at least one ASCII digit and nothing else,
// within the signed 64-bit range. Nothing for any other text.
std::optional<std::int64_t> parseInteger(std::string_view text);

// percentEncoded escapes every byte of `text` as %XX (upper-case hex) but
// the unreserved URI characters (letters, digits, "-", "_", ".", "~") and
// those in `alsoKept` ("/" for a path).
std::string percentEncoded(std::string_view text, std::string_view alsoKept = {});

// graphemeCount returns the number of characters as a reader sees them
// (Unicode extended grapheme clusters, by ICU): "e" + U+0301 is one.
// Invalid UTF-8 counts each bad byte as one character.
std::size_t graphemeCount(std::string_view utf8);

// graphemePrefix returns the first `count` grapheme clusters of `utf8`.
std::string graphemePrefix(std::string_view utf8, std::size_t count);

}  // namespace lumenvale::Text
