#include "pairing/der.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "util/bytes.h"

namespace lumenvale {
namespace {

using namespace std::chrono;

// unhex turns "7f 80" style text into bytes; spaces are ignored.
std::string unhex(std::string_view text) {
  std::string bytes;
  std::string digits;
  for (char c : text) {
    if (c == ' ') continue;
    digits.push_back(c);
    if (digits.size() == 2) {
      bytes.push_back(static_cast<char>(std::stoi(digits, nullptr, 16)));
      digits.clear();
    }
  }
  return bytes;
}

TEST(Der, TlvLengthOctetsAtEachBoundary) {
  struct Case {
    std::size_t size;
    const char* lengthOctets;
  };
  for (const Case& c : {Case{0, "00"}, Case{127, "7f"}, Case{128, "8180"}, Case{255, "81ff"},
                        Case{256, "820100"}, Case{65535, "82ffff"}, Case{65536, "83010000"},
                        Case{16777215, "83ffffff"}}) {
    SCOPED_TRACE(c.size);
    const std::string content(c.size, 'x');
    const std::string encoded = Der::tlv(0x04, content);
    const std::string head = "04" + std::string(c.lengthOctets);
    EXPECT_EQ(Bytes::hex(encoded.substr(0, head.size() / 2)), head);
    EXPECT_EQ(encoded.size(), head.size() / 2 + c.size);
    EXPECT_EQ(encoded.substr(head.size() / 2), content);
  }
  EXPECT_THROW(Der::tlv(0x04, std::string(16777216, 'x')), std::length_error);
}

TEST(Der, SeqAndSetKeepThePartsInOrder) {
  EXPECT_EQ(Bytes::hex(Der::seq({unhex("020102"), unhex("020101")})), "3006020102020101");
  EXPECT_EQ(Bytes::hex(Der::set({unhex("0500")})), "31020500");
  EXPECT_EQ(Bytes::hex(Der::seq({})), "3000");
}

TEST(Der, IntegerIsNonNegativeAndMinimal) {
  struct Case {
    const char* magnitude;
    const char* encoded;
  };
  for (const Case& c : {Case{"7f", "02017f"}, Case{"80", "02020080"}, Case{"007f", "02017f"},
                        Case{"", "020100"}, Case{"000000", "020100"}, Case{"00008001", "0203008001"},
                        Case{"ff", "020200ff"}, Case{"0100", "02020100"},
                        // A serial whose zero first byte is dropped, then put back for the sign.
                        Case{"009c0102030405060708090a0b0c0d0e", "0210009c0102030405060708090a0b0c0d0e"}}) {
    SCOPED_TRACE(c.magnitude);
    EXPECT_EQ(Bytes::hex(Der::integer(unhex(c.magnitude))), c.encoded);
  }
}

TEST(Der, OidEncodesEachArc) {
  struct Case {
    const char* dotted;
    const char* encoded;
  };
  for (const Case& c : {Case{"2.5.4.3", "0603550403"},
                        Case{"1.2.840.10045.4.3.2", "06082a8648ce3d040302"},
                        Case{"1.2.840.10045.2.1", "06072a8648ce3d0201"},
                        Case{"1.2.840.10045.3.1.7", "06082a8648ce3d030107"},
                        Case{"1.2", "06012a"},
                        Case{"2.175", "0601ff"},  // the largest first byte
                        Case{"1.2.127.128", "06042a7f8100"},
                        Case{"1.2.16384", "06042a818000"},  // inner groups of zero bits
                        Case{".1..2.3.", "06022a03"}}) {  // empty pieces are skipped
    SCOPED_TRACE(c.dotted);
    EXPECT_EQ(Bytes::hex(Der::oid(c.dotted)), c.encoded);
  }
  for (const char* bad : {"", "1", "1.x", "1.-2", "2.176", "7.1", "1.2.99999999999999999999999"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(Der::oid(bad), std::invalid_argument);
  }
}

TEST(Der, TimeSwitchesToGeneralizedOutsideTheTwoDigitYears) {
  struct Case {
    const char* name;
    TimePoint date;
    std::uint8_t tag;
    const char* text;
  };
  const auto at = [](year_month_day day, int h, int m, int s) {
    return TimePoint(sys_days(day) + hours(h) + minutes(m) + seconds(s));
  };
  for (const Case& c : {
           Case{"ordinary", at(2026y / March / 7, 9, 5, 2), Der::kUtcTime, "260307090502Z"},
           Case{"fraction dropped", at(2026y / March / 7, 9, 5, 2) + milliseconds(999), Der::kUtcTime,
                "260307090502Z"},
           Case{"last UTCTime", at(2049y / December / 31, 23, 59, 59), Der::kUtcTime, "491231235959Z"},
           Case{"first GeneralizedTime", at(2050y / January / 1, 0, 0, 0), Der::kGeneralizedTime,
                "20500101000000Z"},
           Case{"first UTCTime", at(1950y / January / 1, 0, 0, 0), Der::kUtcTime, "500101000000Z"},
           Case{"before UTCTime", at(1949y / December / 31, 23, 59, 59), Der::kGeneralizedTime,
                "19491231235959Z"},
           Case{"leap day", at(2028y / February / 29, 12, 0, 0), Der::kUtcTime, "280229120000Z"},
       }) {
    SCOPED_TRACE(c.name);
    const std::string text(c.text);
    EXPECT_EQ(Der::time(c.date), Der::tlv(c.tag, text));
  }
}

}  // namespace
}  // namespace lumenvale
