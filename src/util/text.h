// Character-encoding helpers for the HTTP head, whose bytes are ISO 8859-1,
// for checking UTF-8 that arrives from the network, and for making text from
// outside (file names, laptop names, metadata) safe to send and to show.
// Stateless.
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

// validUtf8 returns `bytes` with every byte that does not belong to a
// well-formed UTF-8 sequence replaced by U+FFFD; valid text is unchanged.
std::string validUtf8(std::string_view bytes);

// isHidden tells whether a character must never reach a terminal or a
// screen as itself: C0 and C1 controls and DEL (a terminal obeys them: ESC
// starts a command, CR returns to the start of the line), the line and
// paragraph separators, and the bidirectional marks, embeddings, overrides
// and isolates (they reorder what follows on the line).
bool isHidden(char32_t code);

// withoutHidden returns valid UTF-8 text with every hidden character left
// out, for text that is stored to be shown later (a laptop's name).
std::string withoutHidden(std::string_view text);

// printable returns valid UTF-8 text with every hidden character written
// as an escape: "\x1b" for one below U+0100, "\u202e" for one above. For
// every line that shows text from outside on a terminal or in a log.
std::string printable(std::string_view text);

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

// asciiLower and asciiUpper change the case of A-Z and a-z only, whatever
// the locale: for names in protocols and file extensions, never for text
// a person wrote.
std::string asciiLower(std::string_view text);
std::string asciiUpper(std::string_view text);

// equalIgnoringAsciiCase compares as asciiLower would, without copying.
bool equalIgnoringAsciiCase(std::string_view a, std::string_view b);

// withoutTrailingSlashes drops the slashes that end `path`, keeping "/".
std::string withoutTrailingSlashes(std::string path);

}  // namespace lumenvale::Text
