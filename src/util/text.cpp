#include "util/text.h"

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace lumenvale::Text {
namespace {

// decode reads one UTF-8 sequence at `pos`, advancing it; nothing when the
// bytes there are not a well-formed sequence.
std::optional<char32_t> decode(std::string_view bytes, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  const std::uint8_t lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  std::size_t length;
  char32_t code;
  char32_t lowest;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, lowest = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, lowest = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, lowest = 0x10000;
  } else {
    return std::nullopt;
  }
  if (pos + length > bytes.size()) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    const std::uint8_t next = byte(pos + i);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    code = (code << 6) | (next & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
  pos += length;
  return code;
}

}  // namespace

std::optional<std::int64_t> parseInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // -2^63 is the one magnitude that fits only when negative.
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  std::uint64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (magnitude > (kLimit - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  if (negative) return magnitude == kLimit ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
  if (magnitude == kLimit) return std::nullopt;
  return static_cast<std::int64_t>(magnitude);
}

std::string latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (char c : latin1) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return out;
}

std::optional<std::string> utf8ToLatin1(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    const std::optional<char32_t> code = decode(utf8, pos);
    if (!code || *code > 0xFF) return std::nullopt;
    out.push_back(static_cast<char>(*code));
  }
  return out;
}

bool isValidUtf8(std::string_view bytes) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    if (!decode(bytes, pos)) return false;
  }
  return true;
}

namespace {

// forEachCharacter calls `visit` with each character of `bytes` and the bytes
// it came from, U+FFFD for each byte that starts no well-formed sequence.
template <typename Visit>
void forEachCharacter(std::string_view bytes, Visit visit) {
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  for (std::size_t pos = 0; pos < bytes.size();) {
    const std::size_t start = pos;
    if (const std::optional<char32_t> code = decode(bytes, pos)) {
      visit(*code, bytes.substr(start, pos - start));
    } else {
      pos = start + 1;
      visit(U'\uFFFD', kReplacement);
    }
  }
}

}  // namespace

std::string validUtf8(std::string_view bytes) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  forEachCharacter(bytes, [&](char32_t, std::string_view encoded) { out.append(encoded); });
  return out;
}

bool isHidden(char32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C || code == 0x200E || code == 0x200F ||
         code == 0x2028 || code == 0x2029 || (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

std::string withoutHidden(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  forEachCharacter(text, [&](char32_t code, std::string_view encoded) {
    if (!isHidden(code)) out.append(encoded);
  });
  return out;
}

std::string printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  forEachCharacter(text, [&](char32_t code, std::string_view encoded) {
    if (!isHidden(code)) {
      out.append(encoded);
      return;
    }
    const int digits = code < 0x100 ? 2 : 4;
    out.append(code < 0x100 ? "\\x" : "\\u");
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out.push_back(kHex[(code >> shift) & 0xF]);
  });
  return out;
}

namespace {

// boundaries walks the grapheme-cluster boundaries of `utf8` (byte offsets),
// calling `visit` with each end until it returns false. Returns false when
// ICU cannot be used, so callers fall back to counting bytes.
template <typename Visit>
bool boundaries(std::string_view utf8, Visit visit) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> iterator(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return false;
  UText* text = utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status);
  if (U_FAILURE(status)) return false;
  iterator->setText(text, status);
  if (U_SUCCESS(status)) {
    iterator->first();
    for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE; end = iterator->next()) {
      if (!visit(static_cast<std::size_t>(end))) break;
    }
  }
  utext_close(text);
  return U_SUCCESS(status);
}

}  // namespace

std::size_t graphemeCount(std::string_view utf8) {
  std::size_t count = 0;
  if (!boundaries(utf8, [&](std::size_t) { return ++count, true; })) return utf8.size();
  return count;
}

std::string graphemePrefix(std::string_view utf8, std::size_t count) {
  if (count == 0) return {};
  std::size_t seen = 0;
  std::size_t cut = utf8.size();
  const bool walked = boundaries(utf8, [&](std::size_t end) {
    if (++seen < count) return true;
    cut = end;
    return false;
  });
  if (!walked) cut = std::min(count, utf8.size());
  return std::string(utf8.substr(0, cut));
}

std::string percentEncoded(std::string_view text, std::string_view alsoKept) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (const unsigned char c : text) {
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '_' || c == '.' || c == '~' || alsoKept.find(static_cast<char>(c)) != std::string_view::npos;
    if (kept) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  return encoded;
}

namespace {
char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char raised(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

std::string asciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = lowered(c);
  return lower;
}

std::string asciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = raised(c);
  return upper;
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) { return lowered(x) == lowered(y); });
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace lumenvale::Text
