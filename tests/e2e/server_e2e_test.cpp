// The device as a laptop meets it: the real binary on 127.0.0.1 with its own
// data folder, spoken to over TLS with its certificate pinned.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "e2e/device_fixture.h"
#include "transport/server.h"
#include "support/command.h"
#include "support/pairing_recipe.h"
#include "support/private_network.h"
#include "support/program.h"
#include "support/tls_client.h"
#include "util/atomic_file.h"
#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;
using testing::HttpResponse;
using testing::Program;
using testing::TemporaryFolder;
using testing::TlsClient;
using testing::laptopProof;
using testing::phoneProof;
using testing::symbolsOf;

// A socket of another program holding a port of the range.
class PortHolder {
 public:
  explicit PortHolder(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Connections of an earlier test may linger in TIME_WAIT on the port.
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    held_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd_, 1) == 0;
  }
  ~PortHolder() { ::close(fd_); }
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// An environment variable set for the programs a test starts, and removed
// after.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) { ::setenv(name, value.c_str(), 1); }
  ~ScopedVariable() { ::unsetenv(name_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
};

// Strangers on the network: `count` bare TCP connections to the device that
// never say a word, each opened again 50 ms after the device closes it.
class Strangers {
 public:
  Strangers(std::uint16_t port, int count) : port_(port) {
    for (int i = 0; i < count; ++i) fds_.push_back(open());
    thread_ = std::thread([this] { hold(); });
  }
  ~Strangers() {
    stop_ = true;
    thread_.join();
    for (const int fd : fds_) ::close(fd);
  }
  Strangers(const Strangers&) = delete;
  Strangers& operator=(const Strangers&) = delete;

  // cuts counts the connections the device has closed so far.
  int cuts() const { return cuts_; }

 private:
  int open() const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
  }

  void hold() {
    std::vector<pollfd> watched(fds_.size());
    while (!stop_) {
      for (std::size_t i = 0; i < fds_.size(); ++i) watched[i] = {fds_[i], POLLIN | POLLRDHUP, 0};
      if (::poll(watched.data(), watched.size(), 20) <= 0) continue;
      for (std::size_t i = 0; i < fds_.size(); ++i) {
        if (watched[i].revents == 0) continue;
        char byte;
        if (::recv(fds_[i], &byte, 1, MSG_DONTWAIT) > 0) continue;  // never happens: nothing is asked
        ::close(fds_[i]);
        ++cuts_;
        std::this_thread::sleep_for(50ms);
        fds_[i] = open();
      }
    }
  }

  std::uint16_t port_;
  std::vector<int> fds_;  // the strangers' thread's alone once it runs
  std::atomic<bool> stop_{false};
  std::atomic<int> cuts_{0};
  std::thread thread_;
};

TEST_F(DeviceTest, LaptopPairsWithTheCodeOnScreenAndIsKnownAfterwards) {
  ASSERT_NO_FATAL_FAILURE(start());
  auto client = connect();
  ASSERT_TRUE(client) << "TLS with the pinned fingerprint failed";

  HttpResponse info = ask(*client, "GET", "/v1/info");
  EXPECT_EQ(info.status, 200);
  EXPECT_EQ(json(info)["fingerprint"], fingerprint_);
  EXPECT_EQ(json(info)["name"], "E2E Phone");
  EXPECT_EQ(json(info)["paired"], false);
  const std::string deviceId = json(info)["deviceId"];

  const std::string symbols = symbolsOf(code_);
  const HttpResponse paired = pair(*client, "laptop-7", laptopProof(symbols, fingerprint_, "laptop-7"));
  ASSERT_EQ(paired.status, 200) << paired.body;
  const nlohmann::json answer = json(paired);
  const std::string token = answer["token"];
  EXPECT_EQ(token.size(), 43u);
  EXPECT_EQ(token.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
            std::string::npos);
  EXPECT_EQ(answer["proof"], phoneProof(symbols, fingerprint_, "laptop-7", token));
  EXPECT_EQ(answer["deviceId"], deviceId);
  EXPECT_EQ(answer["name"], "E2E Phone");

  // The code that paired is replaced at once and cannot pair again.
  const std::optional<std::string> next = program_->lineStartingWith("Pairing code: ");
  ASSERT_TRUE(next);
  EXPECT_NE(*next, code_);
  const HttpResponse again = pair(*client, "laptop-8", laptopProof(symbols, fingerprint_, "laptop-8"));
  EXPECT_EQ(again.status, 403);
  EXPECT_EQ(json(again), nlohmann::json({{"error", "bad_code"}, {"message", "That code is not the one on the phone."}}));

  EXPECT_EQ(json(ask(*client, "GET", "/v1/info", "Authorization: Bearer " + token + "\r\n"))["paired"], true);
  EXPECT_EQ(ask(*client, "GET", "/v1/assets", "Authorization: Bearer wrong\r\n").status, 401);

  // Only the token's hash is on disk.
  const std::string stored = AtomicFile::read(data_.path() + "/laptops.json").value_or("");
  EXPECT_EQ(stored.find(token), std::string::npos);
  const nlohmann::json laptops = nlohmann::json::parse(stored);
  ASSERT_EQ(laptops.size(), 1u);
  EXPECT_EQ(laptops[0]["id"], "laptop-7");
  EXPECT_EQ(laptops[0]["tokenHash"], Bytes::hex(Crypto::sha256(token)));

  // A restart keeps the identity and the laptop.
  EXPECT_EQ(program_->stop(SIGTERM), 0);
  const std::string before = fingerprint_;
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_EQ(fingerprint_, before);
  auto later = connect();
  ASSERT_TRUE(later);
  EXPECT_EQ(json(ask(*later, "GET", "/v1/info", "Authorization: Bearer " + token + "\r\n"))["paired"], true);
}

TEST_F(DeviceTest, WrongCodesLockPairingOut) {
  ASSERT_NO_FATAL_FAILURE(start());
  auto client = connect();
  ASSERT_TRUE(client);
  // Malformed requests never count as wrong codes.
  const std::vector<std::pair<std::string, std::string>> malformed = {
      {"[]", "The body is not the JSON this path expects."},
      {"", "The body is not the JSON this path expects."},
      {"{}", "A pairing request needs laptopId and a 64-character proof."},
      {R"({"laptopId":"l","proof":")" + std::string(64, 'A') + "\"}",
       "A pairing request needs laptopId and a 64-character proof."},
      {R"({"laptopId":"l","proof":")" + std::string(63, 'a') + "\"}",
       "A pairing request needs laptopId and a 64-character proof."},
      {R"({"laptopId":")" + std::string(65, 'l') + R"(","proof":")" + std::string(64, 'a') + "\"}",
       "A pairing request needs laptopId and a 64-character proof."},
  };
  for (int round = 0; round < 2; ++round) {
    for (const auto& [body, message] : malformed) {
      SCOPED_TRACE(body);
      const HttpResponse refused = ask(*client, "POST", "/v1/pair", "", body);
      EXPECT_EQ(refused.status, 400);
      EXPECT_EQ(json(refused)["message"], message);
    }
  }
  const std::string wrong(64, '0');
  for (int attempt = 1; attempt <= 4; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_EQ(pair(*client, "laptop", wrong).status, 403);
  }
  const HttpResponse locked = pair(*client, "laptop", wrong);
  EXPECT_EQ(locked.status, 429);
  EXPECT_EQ(locked.header("Retry-After"), "60");
  EXPECT_EQ(json(locked), nlohmann::json({{"error", "locked"},
                                          {"message", "Too many wrong codes. Wait a minute, then try again."}}));
  // Even the right code is refused while the lockout runs.
  const HttpResponse right = pair(*client, "laptop", laptopProof(symbolsOf(code_), fingerprint_, "laptop"));
  EXPECT_EQ(right.status, 429);
  const int seconds = std::stoi(right.header("Retry-After").value_or("0"));
  EXPECT_GE(seconds, 58);
  EXPECT_LE(seconds, 60);
}

TEST_F(DeviceTest, ConnectionsCloseOnRequestOnRefusalAndWhenTheyEnd) {
  ASSERT_NO_FATAL_FAILURE(start());
  {
    auto client = connect();
    ASSERT_TRUE(client);
    // Two requests in one write come back in order.
    ASSERT_TRUE(client->send("GET /v1/nothing HTTP/1.1\r\n\r\nGET /v1/info HTTP/1.1\r\n\r\n"));
    const std::optional<HttpResponse> first = client->response();
    const std::optional<HttpResponse> second = client->response();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->status, 404);
    EXPECT_EQ(first->statusLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(second->status, 200);
    // A handler's error keeps the connection; another value than close too.
    EXPECT_EQ(ask(*client, "GET", "/v1/info", "Connection: keep-alive\r\n").status, 200);
    EXPECT_FALSE(client->closedByPeer(300ms));
    // close, in any case, ends it after the whole answer.
    EXPECT_EQ(ask(*client, "GET", "/v1/info", "Connection: CLOSE\r\n").status, 200);
    EXPECT_TRUE(client->closedByPeer());
  }
  {
    auto client = connect();
    ASSERT_TRUE(client);
    const HttpResponse refused = ask(*client, "PUT", "/v1/info");
    EXPECT_EQ(refused.status, 405);
    EXPECT_EQ(json(refused), nlohmann::json({{"error", "bad_request"}, {"message", "Only GET and POST are used."}}));
    EXPECT_TRUE(client->closedByPeer());
  }
}

// The device picks the suite: AES-128-GCM over the AES-256-GCM that
// OpenSSL's clients list first, ChaCha20 only for a laptop that lists it
// first (one without AES instructions), and whatever a laptop can speak.
TEST_F(DeviceTest, ChoosesTheCheapestCipherTheLaptopCanUse) {
  ASSERT_NO_FATAL_FAILURE(start());
  const struct {
    const char* offered;
    const char* chosen;
  } cases[] = {
      {"TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_128_GCM_SHA256", "TLS_AES_128_GCM_SHA256"},
      {"TLS_CHACHA20_POLY1305_SHA256:TLS_AES_256_GCM_SHA384:TLS_AES_128_GCM_SHA256",
       "TLS_CHACHA20_POLY1305_SHA256"},
      {"TLS_AES_256_GCM_SHA384", "TLS_AES_256_GCM_SHA384"},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.offered);
    const auto client = TlsClient::connect(port_, fingerprint_, std::chrono::seconds(10), each.offered);
    ASSERT_TRUE(client);
    EXPECT_EQ(client->cipher(), each.chosen);
    EXPECT_EQ(ask(*client, "GET", "/v1/info").status, 200);
  }
}

TEST_F(DeviceTest, EightLaptopsAtOnceAndTheNinthIsClosed) {
  ASSERT_NO_FATAL_FAILURE(start());
  std::vector<std::string> tokens;
  for (int i = 0; i < 9; ++i) {
    auto pairing = connect();
    ASSERT_TRUE(pairing);
    tokens.push_back(pairLaptop(*pairing, "laptop-" + std::to_string(i)));
    ASSERT_FALSE(tokens.back().empty());
  }
  const auto bearer = [&](std::size_t laptop) { return "Authorization: Bearer " + tokens[laptop] + "\r\n"; };
  std::vector<std::unique_ptr<TlsClient>> clients;
  for (std::size_t i = 0; i < 8; ++i) {
    clients.push_back(connect());
    ASSERT_TRUE(clients.back()) << "connection " << i + 1;
    EXPECT_EQ(ask(*clients.back(), "GET", "/v1/assets", bearer(i)).status, 200);
  }
  // The ninth is let in and may ask what any stranger may; once it shows
  // its token it is closed without an answer.
  auto ninth = connect();
  ASSERT_TRUE(ninth);
  EXPECT_EQ(ask(*ninth, "GET", "/v1/info").status, 200);
  ASSERT_TRUE(ninth->request("GET", "/v1/assets", bearer(8)));
  EXPECT_FALSE(ninth->response());
  EXPECT_TRUE(ninth->closedByPeer());
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(ask(*clients[i], "GET", "/v1/assets", bearer(i)).status, 200);
  // When one leaves, a new laptop gets its place.
  clients.pop_back();
  std::optional<HttpResponse> answered;
  for (int tries = 0; tries < 50 && !answered; ++tries) {
    std::this_thread::sleep_for(100ms);
    auto newcomer = connect();
    ASSERT_TRUE(newcomer);
    ASSERT_TRUE(newcomer->request("GET", "/v1/assets", bearer(8)));
    answered = newcomer->response();
  }
  ASSERT_TRUE(answered);
  EXPECT_EQ(answered->status, 200);
}

TEST_F(DeviceTest, StrangersHoldingSocketsDoNotLockOutPairedLaptops) {
  ASSERT_NO_FATAL_FAILURE(start());
  std::string token;
  {
    auto client = connect();
    ASSERT_TRUE(client);
    token = pairLaptop(*client, "laptop-1");
  }
  ASSERT_FALSE(token.empty());
  // Eight strangers take every laptop place there is, and as many again
  // more than the door holds, each back 50 ms after it is cut.
  Strangers strangers(port_, 8 + Server::kMaxStrangers);
  std::this_thread::sleep_for(500ms);

  // A laptop comes and goes on fresh connections all the while, across
  // the moment the strangers' limit cuts them.
  int answered = 0;
  const int requests = 25;
  for (int i = 0; i < requests; ++i) {
    SCOPED_TRACE(i);
    auto laptop = TlsClient::connect(port_, fingerprint_, 5s);
    if (!laptop) continue;
    if (!laptop->request("GET", "/v1/assets", "Authorization: Bearer " + token + "\r\n")) continue;
    const std::optional<HttpResponse> response = laptop->response();
    if (response && response->status == 200) ++answered;
    std::this_thread::sleep_for(250ms);
  }
  EXPECT_EQ(answered, requests);

  // A new laptop can still pair.
  auto newcomer = TlsClient::connect(port_, fingerprint_, 5s);
  ASSERT_TRUE(newcomer) << "the door stayed shut";
  EXPECT_FALSE(pairLaptop(*newcomer, "laptop-2").empty());
  // The strangers were cut and came back meanwhile.
  EXPECT_GT(strangers.cuts(), 8 + Server::kMaxStrangers);
}

// portsNotOurs: the tests that hold ports themselves need a network of their
// own, where no other program holds one; why there is none, or nothing.
std::optional<std::string> portsNotOurs() {
  std::string why;
  if (testing::privateNetwork(&why)) return std::nullopt;
  return "needs a network of its own: " + why;
}

TEST_F(DeviceTest, MovesToTheNextFreePort) {
  if (const auto why = portsNotOurs()) GTEST_SKIP() << *why;
  PortHolder first(41820);
  PortHolder second(41821);
  ASSERT_TRUE(first.held() && second.held()) << "another program holds the ports";
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_EQ(port_, 41822);
  auto client = connect();
  ASSERT_TRUE(client);
  EXPECT_EQ(ask(*client, "GET", "/v1/info").status, 200);
}

TEST_F(DeviceTest, AnAddressThatCannotBeServedEndsTheProgram) {
  if (const auto why = portsNotOurs()) GTEST_SKIP() << *why;
  std::vector<std::unique_ptr<PortHolder>> holders;
  for (std::uint16_t port = 41820; port <= 41829; ++port) {
    holders.push_back(std::make_unique<PortHolder>(port));
    ASSERT_TRUE(holders.back()->held()) << port;
  }
  struct Case {
    std::string what;
    std::string address;
    std::string says;
  };
  // 192.0.2.1 is reserved for documentation: no machine has it, and only a
  // bind is tried, nothing sent.
  const std::vector<Case> cases = {
      {"not this machine's", "192.0.2.1", "192.0.2.1 is not an address of this machine."},
      {"every port taken", "127.0.0.1", "Ports 41820 to 41829 are all in use on 127.0.0.1."},
  };
#if defined(__SANITIZE_THREAD__)
  // The screens are left out of the ThreadSanitizer run: Qt and D-Bus are
  // not built with it, and their own locking reads as races.
  const std::vector<bool> frontEnds = {false};
#else
  const std::vector<bool> frontEnds = {false, true};
#endif
  for (const bool window : frontEnds) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(window ? "app window, " : "headless, ") + c.what);
      std::optional<ScopedVariable> offscreen;
      if (window) offscreen.emplace("QT_QPA_PLATFORM", "offscreen");
      std::vector<std::string> arguments = {LUMENVALE_BINARY, "--data", data_.path(), "--library", photos_.path(),
                                            "--listen", c.address};
      if (!window) arguments.push_back("--headless");
      const testing::CommandResult ran = testing::runCommand(arguments, 15s);
      EXPECT_EQ(ran.status, 1) << ran.output;
      EXPECT_NE(ran.output.find("lumenvale: cannot serve laptops: " + c.says), std::string::npos) << ran.output;
    }
  }
}

// A service manager as systemd is to a Type=notify service: a datagram
// socket the device's messages arrive at.
class ServiceManager {
 public:
  explicit ServiceManager(const std::string& path) : path_(path), fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~ServiceManager() {
    if (fd_ >= 0) ::close(fd_);
  }
  ServiceManager(const ServiceManager&) = delete;
  ServiceManager& operator=(const ServiceManager&) = delete;

  bool bound() const { return bound_; }
  const std::string& path() const { return path_; }
  const std::vector<std::string>& told() const { return told_; }

  // hear waits until a message holding `part` has arrived.
  bool hear(const std::string& part, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
      for (const std::string& message : told_) {
        if (message.find(part) != std::string::npos) return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd ready{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
      char buffer[4096];
      const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
      if (got > 0) told_.emplace_back(buffer, static_cast<std::size_t>(got));
    }
  }

 private:
  std::string path_;
  int fd_;
  bool bound_ = false;
  std::vector<std::string> told_;
};

// Run by systemd as a Type=notify service, the device says when it is
// ready (listening), what it is doing, that its main loop is alive, and when
// it stops.
TEST_F(DeviceTest, TellsItsServiceManagerWhenItIsReadyAndAlive) {
  ServiceManager manager(data_.path() + "/notify");
  ASSERT_TRUE(manager.bound());
  {
    const ScopedVariable notify("NOTIFY_SOCKET", manager.path());
    const ScopedVariable watchdog("WATCHDOG_USEC", "400000");
    ASSERT_NO_FATAL_FAILURE(start());
  }
  EXPECT_TRUE(manager.hear("STATUS=Listening on port " + std::to_string(port_), 10s));
  EXPECT_TRUE(manager.hear("READY=1", 10s));
  // The Status line, as the terminal shows it.
  const std::optional<std::string> shown = program_->lineStartingWith("Status: ");
  ASSERT_TRUE(shown);
  EXPECT_TRUE(manager.hear("STATUS=" + *shown, 10s)) << ::testing::PrintToString(manager.told());
  const auto pings = [&] { return std::count(manager.told().begin(), manager.told().end(), "WATCHDOG=1"); };
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (pings() < 3 && std::chrono::steady_clock::now() < deadline) manager.hear("never said", 200ms);
  EXPECT_GE(pings(), 3);
  EXPECT_EQ(program_->stop(SIGTERM), 0);
  EXPECT_TRUE(manager.hear("STOPPING=1", 5s));
}

// --quiet: the terminal shows what the owner must see or answer (the
// fingerprint, the port, the code), not the Status lines nor the library's
// count; a service manager still hears the status.
TEST_F(DeviceTest, QuietSaysOnlyWhatTheOwnerMustSee) {
  ASSERT_TRUE(AtomicFile::write(photos_.path() + "/IMG_0001.JPG", "a photo", 0644));
  ServiceManager manager(data_.path() + "/notify");
  ASSERT_TRUE(manager.bound());
  {
    const ScopedVariable notify("NOTIFY_SOCKET", manager.path());
    ASSERT_NO_FATAL_FAILURE(start({"--quiet"}));
  }
  auto client = connect();
  ASSERT_TRUE(client);
  const std::string token = pairLaptop(*client, "laptop-1");
  // Indexed, and the status worked out, by now.
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (json(ask(*client, "GET", "/v1/assets", "Authorization: Bearer " + token + "\r\n"))["assets"].empty()) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "never indexed";
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(manager.hear("STATUS=connected to", 10s)) << ::testing::PrintToString(manager.told());
  EXPECT_EQ(program_->stop(SIGTERM), 0);
  while (program_->nextLine(1s)) {
  }
  for (const std::string& line : program_->lines()) {
    EXPECT_FALSE(line.starts_with("Status: ") || line.starts_with("Library: ")) << line;
  }
}

TEST_F(DeviceTest, StrangersAreCutQuicklyAndLaptopsKeepTheirTime) {
  const ScopedVariable laptops("LUMENVALE_TEST_TIMEOUT_MS", "4000");
  const ScopedVariable strangers("LUMENVALE_TEST_STRANGER_TIMEOUT_MS", "1000");
  ASSERT_NO_FATAL_FAILURE(start());
  std::string token;
  {
    auto client = connect();
    ASSERT_TRUE(client);
    token = pairLaptop(*client, "laptop-1");
  }
  auto laptop = connect();
  ASSERT_TRUE(laptop);
  EXPECT_EQ(ask(*laptop, "GET", "/v1/assets", "Authorization: Bearer " + token + "\r\n").status, 200);
  // A stranger that was answered gets the short limit again for its next
  // request.
  auto answered = connect();
  ASSERT_TRUE(answered);
  EXPECT_EQ(ask(*answered, "GET", "/v1/info").status, 200);
  auto idle = connect();
  ASSERT_TRUE(idle);
  auto half = connect();
  ASSERT_TRUE(half);
  ASSERT_TRUE(half->send("GET /v1/info HTTP/1.1\r\n"));  // a head that never ends
  Strangers bare(port_, 1);

  const auto began = std::chrono::steady_clock::now();
  for (TlsClient* stranger : {answered.get(), idle.get(), half.get()}) EXPECT_TRUE(stranger->closedByPeer(3s));
  EXPECT_LE(std::chrono::steady_clock::now() - began, 2500ms);
  // The laptop's idle connection lasts its own, longer limit.
  EXPECT_FALSE(laptop->closedByPeer(1500ms));
  EXPECT_GE(bare.cuts(), 1);
  EXPECT_TRUE(laptop->closedByPeer(3s));
  EXPECT_GE(std::chrono::steady_clock::now() - began, 3500ms);
}

}  // namespace
}  // namespace lumenvale
