// The device as a laptop meets it: the real binary on 127.0.0.1 with its own
// data folder, spoken to over TLS with its certificate pinned.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <thread>

#include "e2e/device_fixture.h"
#include "support/pairing_recipe.h"
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

TEST_F(DeviceTest, EightLaptopsAtOnceAndTheNinthIsClosed) {
  ASSERT_NO_FATAL_FAILURE(start());
  std::vector<std::unique_ptr<TlsClient>> clients;
  for (int i = 0; i < 8; ++i) {
    clients.push_back(connect());
    ASSERT_TRUE(clients.back()) << "connection " << i + 1;
  }
  EXPECT_EQ(TlsClient::connect(port_, fingerprint_, 5s), nullptr);
  for (auto& client : clients) EXPECT_EQ(ask(*client, "GET", "/v1/info").status, 200);
  // When one leaves, a new laptop gets its place.
  clients.pop_back();
  std::unique_ptr<TlsClient> newcomer;
  for (int tries = 0; tries < 50 && !newcomer; ++tries) {
    std::this_thread::sleep_for(100ms);
    newcomer = connect();
  }
  ASSERT_TRUE(newcomer);
  EXPECT_EQ(ask(*newcomer, "GET", "/v1/info").status, 200);
}

TEST_F(DeviceTest, MovesToTheNextFreePort) {
  PortHolder first(41820);
  PortHolder second(41821);
  ASSERT_TRUE(first.held() && second.held()) << "another program holds the ports";
  ASSERT_NO_FATAL_FAILURE(start());
  EXPECT_EQ(port_, 41822);
  auto client = connect();
  ASSERT_TRUE(client);
  EXPECT_EQ(ask(*client, "GET", "/v1/info").status, 200);
}

TEST_F(DeviceTest, SaysOnceThatItCannotListenWhenEveryPortIsTaken) {
  std::vector<std::unique_ptr<PortHolder>> holders;
  for (std::uint16_t port = 41820; port <= 41829; ++port) {
    holders.push_back(std::make_unique<PortHolder>(port));
    ASSERT_TRUE(holders.back()->held()) << port;
  }
  program_ = std::make_unique<Program>(std::vector<std::string>{LUMENVALE_BINARY, "--headless", "--data",
                                                                data_.path(), "--name", "E2E Phone", "--listen",
                                                                "127.0.0.1", "--library", photos_.path()});
  const std::optional<std::string> reason = program_->lineStartingWith("Not listening: ");
  ASSERT_TRUE(reason);
  EXPECT_FALSE(reason->empty());
  // Nothing more about listening follows.
  while (std::optional<std::string> line = program_->nextLine(3s)) {
    EXPECT_FALSE(line->starts_with("Not listening") || line->starts_with("Listening")) << *line;
  }
  EXPECT_EQ(program_->stop(SIGINT), 0);
}

TEST_F(DeviceTest, SilentConnectionsCloseAfterAMinute) {
  ASSERT_NO_FATAL_FAILURE(start());
  auto idle = connect();
  ASSERT_TRUE(idle);
  auto half = connect();
  ASSERT_TRUE(half);
  ASSERT_TRUE(half->send("GET /v1/info HTTP/1.1\r\n"));  // a head that never ends
  const auto began = std::chrono::steady_clock::now();
  EXPECT_FALSE(idle->closedByPeer(50s));
  EXPECT_TRUE(idle->closedByPeer(15s));
  EXPECT_TRUE(half->closedByPeer(5s));
  const auto waited = std::chrono::steady_clock::now() - began;
  EXPECT_GE(waited, 59s);
}

}  // namespace
}  // namespace lumenvale
