#include "pairing/der.h"

#include <chrono>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <vector>

namespace lumenvale::Der {
namespace {

std::string wrap(std::uint8_t tag, std::initializer_list<std::string_view> parts) {
  std::string content;
  for (std::string_view part : parts) content.append(part);
  return tlv(tag, content);
}

// base128 appends `arc` most significant group first, the high bit set on
// every byte but the last.
void base128(std::uint64_t arc, std::string& out) {
  char groups[10];
  int count = 0;
  do {
    groups[count++] = static_cast<char>(arc & 0x7F);
    arc >>= 7;
  } while (arc != 0);
  while (count > 1) out.push_back(static_cast<char>(groups[--count] | 0x80));
  out.push_back(groups[0]);
}

}  // namespace

std::string tlv(std::uint8_t tag, std::string_view content) {
  const std::size_t n = content.size();
  if (n > kMaxContentBytes) throw std::length_error("Der::tlv: content too long");
  std::string out;
  out.reserve(n + 5);
  out.push_back(static_cast<char>(tag));
  if (n < 0x80) {
    out.push_back(static_cast<char>(n));
  } else {
    const int octets = n <= 0xFF ? 1 : n <= 0xFFFF ? 2 : 3;
    out.push_back(static_cast<char>(0x80 | octets));
    for (int shift = 8 * (octets - 1); shift >= 0; shift -= 8) {
      out.push_back(static_cast<char>((n >> shift) & 0xFF));
    }
  }
  out.append(content);
  return out;
}

std::string seq(std::initializer_list<std::string_view> parts) { return wrap(kSequence, parts); }

std::string set(std::initializer_list<std::string_view> parts) { return wrap(kSet, parts); }

std::string integer(std::string_view magnitude) {
  const std::size_t first = magnitude.find_first_not_of('\0');
  std::string content;
  if (first == std::string_view::npos) {
    content.push_back('\0');
  } else {
    magnitude.remove_prefix(first);
    // INTEGER is two's complement: a set high bit would read as negative.
    if (static_cast<unsigned char>(magnitude.front()) & 0x80) content.push_back('\0');
    content.append(magnitude);
  }
  return tlv(kInteger, content);
}

std::string oid(std::string_view dotted) {
  std::vector<std::uint64_t> arcs;
  while (!dotted.empty()) {
    const std::size_t dot = dotted.find('.');
    const std::string_view piece = dotted.substr(0, dot);
    dotted.remove_prefix(dot == std::string_view::npos ? dotted.size() : dot + 1);
    if (piece.empty()) continue;
    std::uint64_t arc = 0;
    for (char c : piece) {
      if (c < '0' || c > '9') throw std::invalid_argument("Der::oid: arc is not a decimal number");
      if (arc > (std::numeric_limits<std::uint64_t>::max() - 9) / 10) {
        throw std::invalid_argument("Der::oid: arc too large");
      }
      arc = arc * 10 + static_cast<std::uint64_t>(c - '0');
    }
    arcs.push_back(arc);
  }
  if (arcs.size() < 2) throw std::invalid_argument("Der::oid: fewer than two arcs");
  if (arcs[0] > 6 || 40 * arcs[0] + arcs[1] > 0xFF) {
    throw std::invalid_argument("Der::oid: first two arcs do not fit in one byte");
  }
  std::string content(1, static_cast<char>(40 * arcs[0] + arcs[1]));
  for (std::size_t i = 2; i < arcs.size(); ++i) base128(arcs[i], content);
  return tlv(kObjectIdentifier, content);
}

std::string time(TimePoint date) {
  using namespace std::chrono;
  const auto seconds = floor<std::chrono::seconds>(date);
  const auto day = floor<days>(seconds);
  const year_month_day ymd{day};
  const hh_mm_ss clock{seconds - day};
  const long year = static_cast<int>(ymd.year());
  const long month = static_cast<unsigned>(ymd.month());
  const long dayOfMonth = static_cast<unsigned>(ymd.day());
  const long hour = clock.hours().count();
  const long minute = clock.minutes().count();
  const long second = clock.seconds().count();
  // UTCTime's two-digit year means 1950 to 2049; anything else must be
  // spelled out, or a reader would put 1949 in 2049.
  const bool utc = year >= 1950 && year <= 2049;
  char text[80];  // roomy enough for any long, so the compiler can see no truncation
  if (utc) {
    std::snprintf(text, sizeof text, "%02ld%02ld%02ld%02ld%02ld%02ldZ", year % 100, month, dayOfMonth, hour, minute,
                  second);
  } else {
    std::snprintf(text, sizeof text, "%04ld%02ld%02ld%02ld%02ld%02ldZ", year, month, dayOfMonth, hour, minute, second);
  }
  return tlv(utc ? kUtcTime : kGeneralizedTime, text);
}

}  // namespace lumenvale::Der
