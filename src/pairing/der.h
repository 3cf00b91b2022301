// A minimal ASN.1 DER encoder for the forms one X.509 certificate needs:
// lengths, INTEGER, OBJECT IDENTIFIER, times, SEQUENCE and SET. Write-only,
// stateless; safe on any thread. Contents are capped at 16,777,215 bytes, and
// inputs outside the rules below are programming faults that throw.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "util/clock.h"

namespace lumenvale::Der {

inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kBitString = 0x03;
inline constexpr std::uint8_t kObjectIdentifier = 0x06;
inline constexpr std::uint8_t kUtf8String = 0x0C;
inline constexpr std::uint8_t kUtcTime = 0x17;
inline constexpr std::uint8_t kGeneralizedTime = 0x18;
inline constexpr std::uint8_t kSequence = 0x30;
inline constexpr std::uint8_t kSet = 0x31;
inline constexpr std::uint8_t kContextConstructed0 = 0xA0;

// A certificate is a few hundred bytes; three length octets are plenty.
inline constexpr std::size_t kMaxContentBytes = 0xFFFFFF;

// tlv returns the tag byte, the DER length of `content`, then `content`.
// Throws std::length_error above kMaxContentBytes.
std::string tlv(std::uint8_t tag, std::string_view content);

// seq returns the parts concatenated in the order given inside a SEQUENCE.
std::string seq(std::initializer_list<std::string_view> parts);

// set returns the parts concatenated in the order given inside a SET. The
// members are not sorted: every SET built here has exactly one.
std::string set(std::initializer_list<std::string_view> parts);

// integer returns a non-negative INTEGER whose value is the big-endian
// `magnitude`: leading zero bytes dropped, one put back when the high bit of
// the first remaining byte is set. Nothing at all encodes zero.
std::string integer(std::string_view magnitude);

// oid returns the OBJECT IDENTIFIER of dotted decimal text such as
// "2.5.4.3". Throws std::invalid_argument for fewer than two arcs, a piece
// that is not a decimal number, or first arcs that do not fit in one byte.
std::string oid(std::string_view dotted);

// time returns `date` in UTC, whole seconds, as a UTCTime (YYMMDDhhmmssZ)
// for the years 1950 to 2049 and as a GeneralizedTime (YYYYMMDDhhmmssZ)
// outside them, the split every X.509 reader expects. A TimePoint only
// reaches the years 1677 to 2262, so four digits always suffice.
std::string time(TimePoint date);

}  // namespace lumenvale::Der
