// Pairing codes, key derivation, proof checks and the lockout.
// Every public operation holds mutex_ for its whole run, derivation included.
#include "pairing/pairing.h"

#include <cstring>
#include <utility>

#include "util/bytes.h"
#include "util/crypto.h"
#include "util/pair_proof.h"
#include "util/text.h"

namespace lumenvale {
namespace {

std::uint64_t secureRandom64() {
  const std::string bytes = Bytes::random(sizeof(std::uint64_t));
  std::uint64_t value = 0;
  std::memcpy(&value, bytes.data(), sizeof value);
  return value;
}

}  // namespace

std::string Pairing::Code::display() const {
  // Symbols are ASCII, but a Code is a plain value and may hold anything;
  // counting characters as a reader sees them keeps the cut between them.
  if (Text::graphemeCount(symbols) != kCodeLength) return symbols;
  const std::string head = Text::graphemePrefix(symbols, kCodeLength / 2);
  return head + "-" + symbols.substr(head.size());
}

Pairing::Result Pairing::Result::paired(std::string token, std::string proof) {
  return Result{Kind::paired, std::move(token), std::move(proof), 0};
}

Pairing::Result Pairing::Result::locked(std::int64_t seconds) { return Result{Kind::locked, {}, {}, seconds}; }

Pairing::Result Pairing::Result::wrongCode() { return Result{Kind::wrongCode, {}, {}, 0}; }

Pairing::Pairing(std::string fingerprint, Clock clock)
    : fingerprint_(std::move(fingerprint)), clock_(std::move(clock)) {}

Pairing::Code Pairing::current() {
  MutexLock lock(mutex_);
  std::optional<Code> made;
  if (!isCurrent(clock_())) made = rotate();
  const Code shown = *code_;
  const std::function<void()> told = telling(made);
  lock.unlock();
  if (told) told();
  return shown;
}

std::function<void()> Pairing::telling(const std::optional<Code>& made) const {
  if (!made || !onNewCode_) return nullptr;
  return [onNewCode = onNewCode_, code = *made] { onNewCode(code); };
}

Pairing::Result Pairing::attempt(const std::string& laptopId, const std::string& proof) {
  MutexLock lock(mutex_);
  std::optional<Code> made;
  Result result = attemptHeld(laptopId, proof, made);
  const std::function<void()> told = telling(made);
  lock.unlock();
  if (told) told();
  return result;
}

Pairing::Result Pairing::attemptHeld(const std::string& laptopId, const std::string& proof, std::optional<Code>& made) {
  const TimePoint now = clock_();
  if (now < lockedUntil_) {
    // A clock set back must not stretch a lockout beyond its minute.
    if (lockedUntil_ - now > kLockout) lockedUntil_ = now + kLockout;
    return Result::locked(std::chrono::ceil<std::chrono::seconds>(lockedUntil_ - now).count());
  }
  // Checking against an expired code would let a proof outlive what the
  // phone shows; a renewed code makes any older proof fail.
  if (!isCurrent(clock_())) made = rotate();

  if (Bytes::equal(PairProof::laptop(key_, fingerprint_, laptopId), proof)) {
    wrong_ = 0;
    std::string token = Crypto::base64Url(Bytes::random(kTokenBytes));
    // Made with the key of the code just used, before it is replaced.
    std::string phoneProof = PairProof::phone(key_, fingerprint_, laptopId, token);
    made = rotate();
    return Result::paired(std::move(token), std::move(phoneProof));
  }

  if (++wrong_ < kWrongBeforeLockout) return Result::wrongCode();
  wrong_ = 0;
  lockedUntil_ = now + kLockout;
  return Result::locked(kLockout.count());
}

void Pairing::setOnNewCode(std::function<void(const Code&)> onNewCode) {
  MutexLock lock(mutex_);
  onNewCode_ = std::move(onNewCode);
}

std::uint64_t Pairing::boundedDraw(std::uint64_t size, const std::function<std::uint64_t()>& random64) {
  // 2^64 mod size, computed in 64 bits: (2^64 - size) mod size.
  const std::uint64_t threshold = (0 - size) % size;
  for (;;) {
    const unsigned __int128 product = static_cast<unsigned __int128>(random64()) * size;
    if (static_cast<std::uint64_t>(product) >= threshold) {
      return static_cast<std::uint64_t>(product >> 64);
    }
  }
}

bool Pairing::isCurrent(TimePoint now) const {
  // A code that ends further ahead than its lifetime means the clock was
  // set back; keeping it would show a code for longer than 300 seconds.
  return code_ && now < code_->expiresAt && code_->expiresAt - now <= kCodeLifetime;
}

Pairing::Code Pairing::rotate() {
  std::string symbols;
  symbols.reserve(kCodeLength);
  for (std::size_t i = 0; i < kCodeLength; ++i) {
    symbols += kAlphabet[boundedDraw(kAlphabet.size(), secureRandom64)];
  }
  // Derive before touching any field, so a failure leaves the old code whole.
  std::string derived = PairProof::key(symbols, fingerprint_);
  code_ = Code{std::move(symbols), clock_() + kCodeLifetime};
  key_ = std::move(derived);
  return *code_;
}

}  // namespace lumenvale
