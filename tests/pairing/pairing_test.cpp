// Tests of pairing codes, proofs, tokens and the lockout, on an injected
// clock. Each new code costs one 100000-round derivation (~20 ms), so the
// tests make few.
#include "pairing/pairing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <ostream>
#include <thread>

#include "util/bytes.h"
#include "util/crypto.h"
#include "util/pair_proof.h"

namespace lumenvale {

void PrintTo(const Pairing::Result& result, std::ostream* out) {
  switch (result.kind) {
    case Pairing::Result::Kind::paired:
      *out << "paired(" << result.token << ", " << result.proof << ")";
      break;
    case Pairing::Result::Kind::locked:
      *out << "locked(" << result.seconds << ")";
      break;
    case Pairing::Result::Kind::wrongCode:
      *out << "wrongCode";
      break;
  }
}

namespace {

using Kind = Pairing::Result::Kind;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;

const std::string kFingerprint = "3f1c0b7e9a5d24c68e0f1a2b3c4d5e6f708192a3b4c5d6e7f8091a2b3c4d5e6f";

// The recipe a laptop follows, written out from the primitives so that a
// change on the phone's side shows up here as a mismatch.
std::string independentKey(const std::string& symbols, const std::string& fingerprint) {
  const std::string label = std::string("lumenvale-") + "pair|";
  EXPECT_EQ(label.size(), 15u);
  return Crypto::pbkdf2Sha256(symbols, label + fingerprint, 100000, 32);
}

std::string independentLaptopProof(const std::string& symbols, const std::string& fingerprint,
                                   const std::string& laptopId) {
  const std::string label = std::string("lumenvale-") + "pair|";
  return Bytes::hex(Crypto::hmacSha256(independentKey(symbols, fingerprint), label + fingerprint + "|" + laptopId));
}

std::string independentPhoneProof(const std::string& symbols, const std::string& fingerprint,
                                  const std::string& laptopId, const std::string& token) {
  return Bytes::hex(Crypto::hmacSha256(independentKey(symbols, fingerprint),
                                       "lumenvale-paired|" + fingerprint + "|" + laptopId + "|" + token));
}

bool isLowerHex(const std::string& text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool isUrlSafeToken(const std::string& text) {
  return text.size() == 43 &&
         text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") ==
             std::string::npos;
}

class PairingTest : public ::testing::Test {
 protected:
  PairingTest() {
    pairing_.setOnNewCode([this](const Pairing::Code& code) { told_.push_back(code); });
  }

  // proof returns a laptop's proof for the code the phone shows now.
  std::string proof(const Pairing::Code& code, const std::string& laptopId) {
    return PairProof::laptop(PairProof::key(code.symbols, kFingerprint), kFingerprint, laptopId);
  }

  TimePoint now_ = TimePoint(seconds(1700000000));
  Pairing pairing_{kFingerprint, [this] { return now_; }};
  std::vector<Pairing::Code> told_;
};

TEST(PairingProof, MatchesTheRecipeLaptopsFollow) {
  struct Case {
    std::string symbols;
    std::string fingerprint;
    std::string laptopId;
    std::string token;
  };
  const std::vector<Case> cases = {
      {"0123ABCD", kFingerprint, "laptop-1", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"},
      {"ZZZZ9999", std::string(64, 'e'), "caf\xC3\xA9|with-bar", "x_-y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.symbols);
    const std::string key = PairProof::key(c.symbols, c.fingerprint);
    const std::string laptop = PairProof::laptop(key, c.fingerprint, c.laptopId);
    EXPECT_EQ(laptop, independentLaptopProof(c.symbols, c.fingerprint, c.laptopId));
    EXPECT_TRUE(isLowerHex(laptop)) << laptop;
    EXPECT_EQ(PairProof::phone(key, c.fingerprint, c.laptopId, c.token),
              independentPhoneProof(c.symbols, c.fingerprint, c.laptopId, c.token));
  }
  // Each input is bound into the proof.
  const auto proof = [](std::string_view symbols, std::string_view fingerprint, std::string_view laptopId) {
    return PairProof::laptop(PairProof::key(symbols, fingerprint), fingerprint, laptopId);
  };
  const std::string base = proof("0123ABCD", kFingerprint, "laptop-1");
  EXPECT_NE(proof("0123ABCE", kFingerprint, "laptop-1"), base);
  EXPECT_NE(proof("0123ABCD", std::string(64, 'e'), "laptop-1"), base);
  EXPECT_NE(proof("0123ABCD", kFingerprint, "laptop-2"), base);
}

TEST(PairingCode, DisplaySplitsEightCharactersOnly) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ABCD1234", "ABCD-1234"},
      {"\xC3\x85" "BCDEFGH", "\xC3\x85" "BCD-EFGH"},  // 8 characters in 9 bytes
      {"", ""},
      {"ABC", "ABC"},
      {"ABCD123", "ABCD123"},
      {"ABCD12345", "ABCD12345"},
  };
  for (const auto& [symbols, shown] : cases) {
    SCOPED_TRACE(symbols);
    EXPECT_EQ((Pairing::Code{symbols, TimePoint()}.display()), shown);
  }
}

TEST(PairingDraw, IsTheUnbiasedBoundedDraw) {
  struct Case {
    std::string label;
    std::uint64_t size;
    std::vector<std::uint64_t> randoms;
    std::uint64_t index;
    std::size_t used;  // values taken before the answer
  };
  constexpr std::uint64_t kMax = ~std::uint64_t{0};
  const std::vector<Case> cases = {
      // 32 divides 2^64: nothing is ever redrawn and the top 5 bits decide.
      {"32 lowest", 32, {0}, 0, 1},
      {"32 highest", 32, {kMax}, 31, 1},
      {"32 top bits", 32, {0xA800000000000000u}, 21, 1},
      // 2^64 mod 3 is 1: a low half of 0 is redrawn.
      {"3 redraws", 3, {0, kMax}, 2, 2},
      {"3 middle", 3, {std::uint64_t{1} << 63}, 1, 1},
      {"3 low half at the threshold is kept", 3, {0xAAAAAAAAAAAAAAABu}, 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::size_t used = 0;
    const std::uint64_t index = Pairing::boundedDraw(c.size, [&] { return c.randoms.at(used++); });
    EXPECT_EQ(index, c.index);
    EXPECT_EQ(used, c.used);
  }
}

TEST_F(PairingTest, CurrentMakesACodeOnDemandAndRenewsItAtExpiry) {
  EXPECT_TRUE(told_.empty());
  const Pairing::Code first = pairing_.current();
  EXPECT_EQ(first.symbols.size(), 8u);
  EXPECT_EQ(first.symbols.find_first_not_of(Pairing::kAlphabet), std::string::npos) << first.symbols;
  EXPECT_EQ(first.expiresAt, now_ + seconds(300));
  EXPECT_EQ(told_, std::vector<Pairing::Code>{first});

  now_ += seconds(300) - nanoseconds(1);
  EXPECT_EQ(pairing_.current(), first);
  EXPECT_EQ(told_.size(), 1u);

  now_ += nanoseconds(1);  // the expiry instant itself is no longer valid
  const Pairing::Code second = pairing_.current();
  EXPECT_NE(second.symbols, first.symbols);
  EXPECT_EQ(second.expiresAt, now_ + seconds(300));
  EXPECT_EQ(told_, (std::vector<Pairing::Code>{first, second}));
}

// The callback is told after the lock is let go: it may ask for the code
// (the hub does), which deadlocked while it ran under the lock.
TEST(PairingCallback, MayAskForTheCodeItIsToldOf) {
  TimePoint now(seconds(1700000000));
  Pairing pairing(kFingerprint, [&] { return now; });
  std::vector<std::string> seen;
  pairing.setOnNewCode([&](const Pairing::Code&) { seen.push_back(pairing.current().symbols); });
  const Pairing::Code first = pairing.current();
  ASSERT_EQ(seen, std::vector<std::string>{first.symbols});
  const Pairing::Result paired = pairing.attempt("laptop-1", PairProof::laptop(PairProof::key(first.symbols, kFingerprint), kFingerprint, "laptop-1"));
  ASSERT_EQ(paired.kind, Pairing::Result::Kind::paired);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[1], first.symbols);  // told of the code that replaced the one used
  EXPECT_EQ(seen[1], pairing.current().symbols);
}

TEST_F(PairingTest, TheRightProofPairsOnceAndReplacesTheCode) {
  const Pairing::Code code = pairing_.current();
  const std::string laptopProof = proof(code, "laptop-1");
  const Pairing::Result result = pairing_.attempt("laptop-1", laptopProof);
  ASSERT_EQ(result.kind, Kind::paired);
  EXPECT_TRUE(isUrlSafeToken(result.token)) << result.token;
  EXPECT_TRUE(isLowerHex(result.proof)) << result.proof;
  EXPECT_EQ(result.proof, independentPhoneProof(code.symbols, kFingerprint, "laptop-1", result.token));

  // The code changed at once and the callback heard of it.
  const Pairing::Code next = pairing_.current();
  EXPECT_NE(next.symbols, code.symbols);
  EXPECT_EQ(told_, (std::vector<Pairing::Code>{code, next}));
  EXPECT_EQ(pairing_.attempt("laptop-1", laptopProof), Pairing::Result::wrongCode());

  // A second laptop pairs with the new code and gets a different token.
  const Pairing::Result again = pairing_.attempt("laptop-2", proof(next, "laptop-2"));
  ASSERT_EQ(again.kind, Kind::paired);
  EXPECT_NE(again.token, result.token);
}

TEST_F(PairingTest, AProofForAnythingElseIsAWrongCode) {
  const Pairing::Code code = pairing_.current();
  const std::string right = proof(code, "laptop-1");
  std::string upper = right;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"another laptop's id", proof(code, "laptop-2")},
      {"another certificate", PairProof::laptop(PairProof::key(code.symbols, std::string(64, '0')), std::string(64, '0'), "laptop-1")},
      {"upper-case hex", upper},
      {"empty", ""},
  };
  for (const auto& [label, given] : cases) {
    SCOPED_TRACE(label);
    EXPECT_EQ(pairing_.attempt("laptop-1", given), Pairing::Result::wrongCode());
  }
  // Four wrong proofs are under the limit, and none renewed the code.
  EXPECT_EQ(told_.size(), 1u);
  EXPECT_EQ(pairing_.attempt("laptop-1", right).kind, Kind::paired);
}

TEST_F(PairingTest, AProofForAnExpiredCodeFails) {
  const Pairing::Code old = pairing_.current();
  const std::string oldProof = proof(old, "laptop-1");
  now_ = old.expiresAt;
  EXPECT_EQ(pairing_.attempt("laptop-1", oldProof), Pairing::Result::wrongCode());
  // The attempt made the new code before checking, and said so.
  ASSERT_EQ(told_.size(), 2u);
  EXPECT_EQ(told_[1], pairing_.current());
  EXPECT_EQ(told_[1].expiresAt, old.expiresAt + seconds(300));
  EXPECT_EQ(pairing_.attempt("laptop-1", proof(told_[1], "laptop-1")).kind, Kind::paired);
}

TEST_F(PairingTest, AProofIsGoodUntilTheLastInstantOfItsCode) {
  const Pairing::Code code = pairing_.current();
  now_ = code.expiresAt - nanoseconds(1);
  EXPECT_EQ(pairing_.attempt("laptop-1", proof(code, "laptop-1")).kind, Kind::paired);
}

TEST_F(PairingTest, FiveWrongProofsLockEveryoneOutForAMinute) {
  const Pairing::Code code = pairing_.current();
  const std::string right = proof(code, "laptop-1");
  const std::string wrong(64, 'a');
  // Wrong proofs from different laptops count together.
  for (int i = 1; i <= 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(pairing_.attempt("stranger-" + std::to_string(i), wrong), Pairing::Result::wrongCode());
  }
  EXPECT_EQ(pairing_.attempt("stranger-5", wrong), Pairing::Result::locked(60));
  const TimePoint lockedAt = now_;

  // While locked even the right proof is refused, with the seconds left
  // rounded up, and neither the code nor the counter moves.
  const std::vector<std::pair<nanoseconds, std::int64_t>> waits = {
      {seconds(0), 60}, {seconds(10), 50}, {milliseconds(10500), 50},
      {seconds(59), 1}, {seconds(60) - nanoseconds(1), 1},
  };
  for (const auto& [after, left] : waits) {
    SCOPED_TRACE(after.count());
    now_ = lockedAt + after;
    EXPECT_EQ(pairing_.attempt("laptop-1", right), Pairing::Result::locked(left));
  }
  EXPECT_EQ(pairing_.current(), code);
  EXPECT_EQ(told_.size(), 1u);

  // The lockout reset the counter: one wrong proof afterwards is not a lockout.
  now_ = lockedAt + seconds(60);
  EXPECT_EQ(pairing_.attempt("stranger-1", wrong), Pairing::Result::wrongCode());
  EXPECT_EQ(pairing_.attempt("laptop-1", right).kind, Kind::paired);
}

TEST_F(PairingTest, TheWrongCountResetsOnSuccessButNotOnANewCode) {
  const std::string wrong(64, 'b');
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pairing_.attempt("x", wrong), Pairing::Result::wrongCode());
  const Pairing::Code code = pairing_.current();
  EXPECT_EQ(pairing_.attempt("laptop-1", proof(code, "laptop-1")).kind, Kind::paired);

  // Counted afresh after the success: three, then the code expires, then two.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pairing_.attempt("x", wrong), Pairing::Result::wrongCode());
  now_ += seconds(300);
  EXPECT_EQ(pairing_.attempt("x", wrong), Pairing::Result::wrongCode());
  EXPECT_EQ(pairing_.attempt("x", wrong), Pairing::Result::locked(60));
}

TEST_F(PairingTest, CurrentRenewsAnExpiredCodeDuringALockout) {
  const Pairing::Code first = pairing_.current();
  now_ = first.expiresAt - seconds(1);
  for (int i = 0; i < 5; ++i) pairing_.attempt("x", std::string(64, 'c'));
  ASSERT_EQ(pairing_.attempt("x", std::string(64, 'c')).kind, Kind::locked);
  EXPECT_EQ(told_.size(), 1u);

  now_ = first.expiresAt;
  // An attempt while locked does not renew the expired code; current() does.
  EXPECT_EQ(pairing_.attempt("laptop-1", proof(first, "laptop-1")), Pairing::Result::locked(59));
  EXPECT_EQ(told_.size(), 1u);
  const Pairing::Code second = pairing_.current();
  EXPECT_NE(second, first);
  EXPECT_EQ(told_.size(), 2u);

  now_ += seconds(59);
  EXPECT_EQ(pairing_.attempt("laptop-1", proof(second, "laptop-1")).kind, Kind::paired);
}

TEST_F(PairingTest, AClockSetBackStretchesNeitherLockoutNorCode) {
  const Pairing::Code code = pairing_.current();
  for (int i = 0; i < 5; ++i) pairing_.attempt("x", std::string(64, 'd'));
  now_ -= std::chrono::hours(24);
  // Neither the lockout nor the code may last a day longer.
  EXPECT_EQ(pairing_.attempt("laptop-1", proof(code, "laptop-1")), Pairing::Result::locked(60));
  const Pairing::Code renewed = pairing_.current();
  EXPECT_NE(renewed, code);
  EXPECT_EQ(renewed.expiresAt, now_ + seconds(300));
  now_ += seconds(60);
  EXPECT_EQ(pairing_.attempt("laptop-1", proof(renewed, "laptop-1")).kind, Kind::paired);
}

TEST_F(PairingTest, ACodePairsOneLaptopEvenWhenTwoRace) {
  const Pairing::Code code = pairing_.current();
  const std::string first = proof(code, "laptop-1");
  const std::string second = proof(code, "laptop-2");
  std::atomic<int> paired = 0;
  std::atomic<int> refused = 0;
  auto race = [&](const std::string& id, const std::string& given) {
    const Pairing::Result result = pairing_.attempt(id, given);
    (result.kind == Kind::paired ? paired : refused)++;
  };
  std::thread one(race, "laptop-1", first);
  std::thread two(race, "laptop-2", second);
  one.join();
  two.join();
  EXPECT_EQ(paired, 1);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(told_.size(), 2u);
}

}  // namespace
}  // namespace lumenvale
