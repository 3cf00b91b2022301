// Pairing codes, proofs and tokens: the 8-symbol code the phone shows (300 s,
// replaced once it has paired), laptop proofs checked against it, and a 60 s
// lockout after 5 wrong proofs. One per running server, shared by the ticker
// and every connection thread; one mutex guards it all, and onNewCode is
// told after it is let go.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "util/clock.h"
#include "util/mutex.h"

namespace lumenvale {

class Pairing {
 public:
  // Ten digits and the upper-case letters without I, L, O and U, which a
  // reader confuses with 1, 0 and V: 32 symbols, 5 bits each.
  static constexpr std::string_view kAlphabet = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
  static constexpr std::size_t kCodeLength = 8;
  static constexpr std::chrono::seconds kCodeLifetime{300};
  static constexpr int kWrongBeforeLockout = 5;
  static constexpr std::chrono::seconds kLockout{60};
  static constexpr std::size_t kTokenBytes = 32;

  // Code is one pairing code. It is valid up to, not including, expiresAt.
  struct Code {
    std::string symbols;
    TimePoint expiresAt;

    // display returns the form shown to the user: "ABCD-EFGH" for 8
    // characters, any other length unchanged.
    std::string display() const;

    bool operator==(const Code&) const = default;
  };

  // Result is the verdict on one attempt.
  struct Result {
    enum class Kind { paired, locked, wrongCode };

    Kind kind = Kind::wrongCode;
    std::string token;      // paired: the laptop's new bearer token, 43 URL-safe Base64 characters
    std::string proof;      // paired: the phone's proof, 64 lower-case hex digits
    std::int64_t seconds = 0;  // locked: whole seconds (rounded up) until attempts count again

    static Result paired(std::string token, std::string proof);
    static Result locked(std::int64_t seconds);
    static Result wrongCode();

    bool operator==(const Result&) const = default;
  };

  // `fingerprint` is the phone certificate's, as laptops pin it (64
  // lower-case hex digits). `clock` is read for every expiry and lockout.
  explicit Pairing(std::string fingerprint, Clock clock = systemNow);

  Pairing(const Pairing&) = delete;
  Pairing& operator=(const Pairing&) = delete;

  // current returns the code that is valid now, making a new one (and
  // telling onNewCode) when there is none or it has expired.
  Code current() EXCLUDES(mutex_);

  // attempt checks one laptop's proof. While a lockout runs it answers
  // locked without looking at the proof. Otherwise it renews an expired
  // code, then compares in constant time: a match pairs, issues a token and
  // replaces the code at once, so a code pairs one laptop only; a mismatch
  // counts towards the lockout, shared by all laptops. Throws
  // std::runtime_error only if the system's random source or OpenSSL fails.
  Result attempt(const std::string& laptopId, const std::string& proof) EXCLUDES(mutex_);

  // setOnNewCode sets the callback told of every new code, synchronously on
  // the thread that made it, once the lock is let go (it may call back into
  // this object). Two threads that each make a code may tell them in either
  // order; the one current() returns is the truth.
  void setOnNewCode(std::function<void(const Code&)> onNewCode) EXCLUDES(mutex_);

  // boundedDraw returns a uniform index below `size` (which must not be 0)
  // from the 64-bit values `random64` gives, without modulo bias: the high
  // half of value * size, drawing again while the low half falls below
  // 2^64 mod size.
  static std::uint64_t boundedDraw(std::uint64_t size, const std::function<std::uint64_t()>& random64);

 private:
  // rotate makes a new code and returns it, for the caller to tell
  // onNewCode once the lock is let go (tell).
  bool isCurrent(TimePoint now) const REQUIRES(mutex_);
  Code rotate() REQUIRES(mutex_);
  Result attemptHeld(const std::string& laptopId, const std::string& proof, std::optional<Code>& made)
      REQUIRES(mutex_);
  // telling is the call that tells onNewCode of `made`, to make once the
  // lock is let go; nothing when no code was made.
  std::function<void()> telling(const std::optional<Code>& made) const REQUIRES(mutex_);

  const std::string fingerprint_;
  const Clock clock_;
  Mutex mutex_;
  std::optional<Code> code_ GUARDED_BY(mutex_);  // none until first needed
  std::string key_ GUARDED_BY(mutex_);  // the key of code_
  int wrong_ GUARDED_BY(mutex_) = 0;  // since the last success or lockout
  TimePoint lockedUntil_ GUARDED_BY(mutex_) = TimePoint::min();
  std::function<void(const Code&)> onNewCode_ GUARDED_BY(mutex_);
};

}  // namespace lumenvale
