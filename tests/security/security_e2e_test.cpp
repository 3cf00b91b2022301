// What an attacker on the local network can try against the real binary on
// 127.0.0.1: old TLS and weak ciphers, reading the device's files, guessing
// the code from many connections, paths out of the library, and deleting
// without the owner's yes. SECURITY.md names the test for each threat.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include "e2e/device_fixture.h"
#include "support/command.h"
#include "util/atomic_file.h"
#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The secret beside the library: no request may return it.
const std::string kSecret = "the owner's tax return, not a photo";

class SecurityTest : public DeviceTest {
 protected:
  void SetUp() override {
    ::setenv("XDG_DATA_HOME", xdgData_.path().c_str(), 1);
    std::mt19937 random(3);
    for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG"}) {
      std::string bytes(30000, '\0');
      for (char& c : bytes) c = static_cast<char>(random());
      ASSERT_TRUE(AtomicFile::write(photos_.path() + "/" + name, bytes, 0644));
    }
    ASSERT_TRUE(AtomicFile::write(outside_.path() + "/secret.JPG", kSecret, 0644));
  }
  void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

  // startPaired starts the device and pairs one laptop on `client`.
  void startPaired(std::unique_ptr<TlsClient>& client) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_EQ(program_->printed("Library: ", 60s), "2 photos and videos");
    client = connect();
    ASSERT_TRUE(client);
    token_ = pairLaptop(*client, "laptop");
    ASSERT_FALSE(token_.empty());
  }

  std::string authorization() const { return "Authorization: Bearer " + token_ + "\r\n"; }

  // sClient runs `openssl s_client` against the device with `options`; the
  // exit status and everything it printed.
  testing::CommandResult sClient(const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {"/usr/bin/openssl", "s_client", "-connect",
                                          "127.0.0.1:" + std::to_string(port_), "-brief"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return testing::runCommand(arguments, 20s);
  }

  TemporaryFolder xdgData_{"security-xdg"};
  TemporaryFolder outside_{"security-outside"};
  std::string token_;
};

// A handshake the device refused, as opposed to one the client would not
// even try with its own settings.
bool refusedByTheDevice(const testing::CommandResult& result) {
  return result.status != 0 && result.output.find("CONNECTION ESTABLISHED") == std::string::npos &&
         result.output.find("no protocols available") == std::string::npos &&
         result.output.find("no cipher match") == std::string::npos;
}

TEST_F(SecurityTest, OnlyTls12AndLaterWithForwardSecretAuthenticatedCiphers) {
  ASSERT_NO_FATAL_FAILURE(start());
  // The client is told to allow everything (security level 0), so that a
  // refusal comes from the device.
  const std::string anything = "ALL:COMPLEMENTOFALL:@SECLEVEL=0";
  struct Case {
    std::string label;
    std::vector<std::string> options;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {"TLS 1.0", {"-tls1", "-cipher", anything}, false},
      {"TLS 1.1", {"-tls1_1", "-cipher", anything}, false},
      {"TLS 1.2", {"-tls1_2"}, true},
      {"TLS 1.3", {"-tls1_3"}, true},
      {"NULL encryption", {"-tls1_2", "-cipher", "NULL:@SECLEVEL=0"}, false},
      {"anonymous key exchange", {"-tls1_2", "-cipher", "aNULL:@SECLEVEL=0"}, false},
      {"MD5", {"-tls1_2", "-cipher", "MD5:@SECLEVEL=0"}, false},
      {"static RSA key exchange", {"-tls1_2", "-cipher", "kRSA:@SECLEVEL=0"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const testing::CommandResult result = sClient(c.options);
    if (c.accepted) {
      EXPECT_EQ(result.status, 0) << result.output;
      EXPECT_NE(result.output.find("CONNECTION ESTABLISHED"), std::string::npos) << result.output;
    } else {
      EXPECT_TRUE(refusedByTheDevice(result)) << result.output;
    }
  }

  // RC4, DES, 3DES and export ciphers are not in the system's OpenSSL at
  // all, the library the device links: nothing can negotiate them.
  for (const char* weak : {"RC4", "DES", "3DES", "EXPORT", "IDEA", "SEED"}) {
    SCOPED_TRACE(weak);
    const testing::CommandResult listed =
        testing::runCommand({"/usr/bin/openssl", "ciphers", std::string(weak) + ":@SECLEVEL=0"}, 20s);
    EXPECT_NE(listed.status, 0) << listed.output;
  }

  // Every TLS 1.2 suite the client knows, one at a time: those the device
  // accepts all have an ephemeral key exchange, an authenticated server
  // and real encryption.
  const testing::CommandResult all = testing::runCommand({"/usr/bin/openssl", "ciphers", "-v", "-tls1_2", anything}, 20s);
  ASSERT_EQ(all.status, 0);
  std::istringstream lines(all.output);
  std::string line;
  int tried = 0;
  std::vector<std::string> accepted;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string name, protocol, kx, au, enc, mac;
    words >> name >> protocol >> kx >> au >> enc >> mac;
    if (protocol == "TLSv1.3") continue;
    ++tried;
    const testing::CommandResult result = sClient({"-tls1_2", "-cipher", name + ":@SECLEVEL=0"});
    if (result.status != 0) continue;
    accepted.push_back(name);
    SCOPED_TRACE(line);
    EXPECT_TRUE(kx == "Kx=ECDH" || kx == "Kx=DH");
    EXPECT_TRUE(au == "Au=ECDSA" || au == "Au=RSA");
    EXPECT_NE(enc, "Enc=None");
    EXPECT_NE(mac, "Mac=MD5");
  }
  std::printf("TLS 1.2 suites tried: %d, accepted: %zu\n", tried, accepted.size());
  EXPECT_GT(tried, 50);
  EXPECT_FALSE(accepted.empty());
}

TEST_F(SecurityTest, StoredFilesArePrivateAndTheTokenIsNeverWrittenOrPrinted) {
  std::unique_ptr<TlsClient> client;
  ASSERT_NO_FATAL_FAILURE(startPaired(client));
  const nlohmann::json list = {{"items", {{{"id", "A"}, {"modified", "2024-05-01T10:00:00Z"}}}},
                               {"operation", {{"id", "op"}, {"total", 1}}}};
  ASSERT_EQ(ask(*client, "POST", "/v1/safe", authorization(), list.dump()).status, 200);
  ASSERT_EQ(testing::runCommand({LUMENVALE_BINARY, "--data", data_.path(), "settings", "set", "theme", "dark"}, 20s).status, 0);
  EXPECT_EQ(program_->stop(SIGTERM), 0);

  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(data_.path())) {
    struct stat info {};
    ASSERT_EQ(::lstat(entry.path().c_str(), &info), 0);
    SCOPED_TRACE(entry.path().string());
    if (S_ISDIR(info.st_mode)) {
      EXPECT_EQ(info.st_mode & 07777, 0700u);
    } else {
      ++files;
      EXPECT_TRUE(S_ISREG(info.st_mode));
      EXPECT_EQ(info.st_mode & 07777, 0600u);
      const std::string content = AtomicFile::read(entry.path()).value_or("");
      EXPECT_EQ(content.find(token_), std::string::npos) << "the token is stored";
    }
  }
  struct stat folder {};
  ASSERT_EQ(::stat(data_.path().c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mode & 07777, 0700u);
  // laptops.json, safe.json, settings.json, library.db, three keychain items.
  EXPECT_GE(files, 7);
  // Only the token's SHA-256 is kept, to check the bearer against.
  EXPECT_NE(AtomicFile::read(data_.path() + "/laptops.json").value_or("").find(Bytes::hex(Crypto::sha256(token_))),
            std::string::npos);
  for (const std::string& line : program_->lines()) EXPECT_EQ(line.find(token_), std::string::npos) << line;
}

TEST_F(SecurityTest, TheLockoutHoldsAcrossConnections) {
  ASSERT_NO_FATAL_FAILURE(start());
  const std::string wrong(64, '0');
  // Five wrong codes, each on a connection of its own.
  for (int attempt = 1; attempt <= 5; ++attempt) {
    SCOPED_TRACE(attempt);
    auto client = connect();
    ASSERT_TRUE(client);
    EXPECT_EQ(pair(*client, "guesser-" + std::to_string(attempt), wrong).status, attempt < 5 ? 403 : 429);
  }
  // Then the right code, from fresh connections at once: all refused.
  const std::string right = testing::laptopProof(testing::symbolsOf(code_), fingerprint_, "owner");
  std::vector<std::thread> tries;
  std::atomic<int> refused{0};
  for (int i = 0; i < 6; ++i) {
    tries.emplace_back([&] {
      std::unique_ptr<TlsClient> client;
      for (int again = 0; again < 50 && !client; ++again) {
        client = connect();
        if (!client) std::this_thread::sleep_for(50ms);
      }
      if (!client) return;
      const HttpResponse answer = pair(*client, "owner", right);
      if (answer.status == 429 && answer.header("Retry-After")) ++refused;
    });
  }
  for (std::thread& attempt : tries) attempt.join();
  EXPECT_EQ(refused, 6);
  EXPECT_EQ(AtomicFile::read(data_.path() + "/laptops.json").value_or("").find("owner"), std::string::npos);
}

TEST_F(SecurityTest, NoPathLeadsOutOfTheLibrary) {
  std::unique_ptr<TlsClient> client;
  ASSERT_NO_FATAL_FAILURE(startPaired(client));
  const HttpResponse listed = ask(*client, "GET", "/v1/assets", authorization());
  ASSERT_EQ(listed.status, 200);
  const std::string id = json(listed)["assets"][0]["id"];
  const std::string secret = outside_.path() + "/secret.JPG";
  const std::string relative = "../" + fs::path(outside_.path()).filename().string() + "/secret.JPG";
  // Ids are the base64url of a catalog key; these are what an attacker
  // would encode instead.
  const std::vector<std::string> targets = {
      "/v1/assets/../../../../etc/passwd",
      "/v1/assets/..%2F..%2F..%2Fetc%2Fpasswd/res/photo",
      "/v1/assets/../res/photo",
      "/v1/assets/./res/photo",
      "/v1/assets/" + Crypto::base64Url(secret) + "/res/photo",
      "/v1/assets/" + Crypto::base64Url(relative) + "/res/photo",
      "/v1/assets/" + Crypto::base64Url(secret + "/L0/001") + "/res/photo",
      "/v1/assets/" + Crypto::base64Url(secret) + "/thumb",
      "/v1/assets/" + Crypto::base64Url(relative) + "/res/photo/sha256",
      "/v1/assets/" + id + "/res/..%2F..%2Fsecret",
      "/v1/assets/" + id + "/res/photo/../../../secret.JPG",
      "/v1/assets/" + id + "/res/../../" + relative,
      "/v1/assets/%00/res/photo",
      "/v1/assets/" + id + "%00../secret/res/photo",
  };
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    const HttpResponse answer = ask(*client, "GET", target, authorization());
    EXPECT_TRUE(answer.status == 404 || answer.status == 400) << answer.statusLine;
    EXPECT_EQ(answer.body.find(kSecret), std::string::npos);
  }
  // The connection is still good, and the real file still comes.
  EXPECT_EQ(ask(*client, "GET", "/v1/assets/" + id + "/res/photo", authorization()).status, 200);
}

TEST_F(SecurityTest, NothingIsDeletedWithoutAYes) {
  std::unique_ptr<TlsClient> client;
  ASSERT_NO_FATAL_FAILURE(startPaired(client));
  ASSERT_EQ(testing::runCommand({LUMENVALE_BINARY, "--data", data_.path(), "settings", "set", "allowDelete", "true"}, 20s)
                .status,
            0);
  const nlohmann::json page = json(ask(*client, "GET", "/v1/assets", authorization()));
  std::map<std::string, nlohmann::json> byName;
  for (const nlohmann::json& asset : page["assets"]) byName[asset["resources"][0]["name"]] = asset;
  const auto request = [&](const std::string& name, bool rightChecksum) {
    const std::string bytes = AtomicFile::read(photos_.path() + "/" + name).value();
    std::string sha = Bytes::hex(Crypto::sha256(bytes));
    if (!rightChecksum) sha[0] = sha[0] == '0' ? '1' : '0';
    const nlohmann::json& asset = byName.at(name);
    return nlohmann::json{{"items", {{{"id", asset["id"]}, {"rid", asset["resources"][0]["rid"]}, {"sha256", sha}}}}}.dump();
  };
  const std::string kept = photos_.path() + "/IMG_0001.JPG";

  // A checksum the device does not share: never put to the owner.
  const HttpResponse mismatch = ask(*client, "POST", "/v1/delete", authorization(), request("IMG_0001.JPG", false));
  EXPECT_EQ(mismatch.status, 200);
  EXPECT_EQ(json(mismatch)["deleted"], nlohmann::json::array());
  EXPECT_TRUE(fs::exists(kept));

  // Every answer but a yes keeps the photo.
  for (const std::string answer : {"n", "no", "", "nope", "yes please", "y e s", "ja"}) {
    SCOPED_TRACE("answer \"" + answer + "\"");
    ASSERT_TRUE(client->request("POST", "/v1/delete", authorization(), request("IMG_0001.JPG", true)));
    ASSERT_TRUE(program_->prompted("[y/N] "));
    program_->writeLine(answer);
    const std::optional<HttpResponse> response = client->response();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 409);
    EXPECT_TRUE(fs::exists(kept));
  }
  // A yes deletes: the requests above would have, had the owner agreed.
  ASSERT_TRUE(client->request("POST", "/v1/delete", authorization(), request("IMG_0002.JPG", true)));
  ASSERT_TRUE(program_->prompted("[y/N] "));
  program_->writeLine("y");
  std::optional<HttpResponse> response = client->response();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200) << response->body;
  EXPECT_FALSE(fs::exists(photos_.path() + "/IMG_0002.JPG"));
  // With the owner's input gone nobody can answer, and the laptop is told
  // so at once rather than left waiting for a no.
  // (Whether the end of input reaches the device before the request or
  // while its question is open, the answer is the same.)
  program_->closeInput();
  ASSERT_TRUE(client->request("POST", "/v1/delete", authorization(), request("IMG_0001.JPG", true)));
  response = client->response();
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 503);
  EXPECT_EQ(json(*response)["error"], "no_one_to_ask") << response->body;
  EXPECT_EQ(json(*response)["message"],
            "No one can answer on the device: open the app or run it in a terminal. Nothing was deleted.");
  EXPECT_TRUE(fs::exists(kept));
}

// A folder someone else fills may hold a file whose name is not UTF-8.
// The listing, which is JSON, still holds every file, that one under a name
// with U+FFFD, and the file downloads; a listing is never answered 200 with
// an empty object.
TEST_F(SecurityTest, AFileNameThatIsNotUtf8IsListedAndServed) {
  const std::string odd = "IMG_\xFF\xFE.JPG";
  ASSERT_TRUE(AtomicFile::write(photos_.path() + "/" + odd, "odd bytes", 0644));
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(program_->printed("Library: ", 60s), "3 photos and videos");
  std::unique_ptr<TlsClient> client = connect();
  ASSERT_TRUE(client);
  token_ = pairLaptop(*client, "laptop");
  const HttpResponse listing = ask(*client, "GET", "/v1/assets", authorization());
  ASSERT_EQ(listing.status, 200) << listing.body;
  const nlohmann::json page = json(listing);
  ASSERT_EQ(page["assets"].size(), 3u) << listing.body;
  std::optional<std::string> id;
  for (const nlohmann::json& asset : page["assets"]) {
    if (asset["resources"][0]["name"] == "IMG_\xEF\xBF\xBD\xEF\xBF\xBD.JPG") id = asset["id"];
  }
  ASSERT_TRUE(id) << listing.body;
  const HttpResponse file = ask(*client, "GET", "/v1/assets/" + *id + "/res/photo", authorization());
  EXPECT_EQ(file.status, 200);
  EXPECT_EQ(file.body, "odd bytes");
}

// A paired laptop chooses its own name, and the owner reads it beside the
// delete question: control characters in it could erase the question and
// print another, a right-to-left override could turn it round.
TEST_F(SecurityTest, ALaptopsNameReachesTheTerminalWithoutControls) {
  ASSERT_NO_FATAL_FAILURE(start());
  ASSERT_EQ(program_->printed("Library: ", 60s), "2 photos and videos");
  std::unique_ptr<TlsClient> client = connect();
  ASSERT_TRUE(client);
  const std::string hostile = "\x1b[2K\rKeep your photos and cancel this request?\x1b[8m\xE2\x80\xAE\n";
  const std::string laptopId = "hostile";
  const nlohmann::json body = {
      {"laptopId", laptopId},
      {"proof", testing::laptopProof(testing::symbolsOf(code_), fingerprint_, laptopId)},
      {"laptopName", hostile}};
  const HttpResponse paired = ask(*client, "POST", "/v1/pair", "", body.dump());
  ASSERT_EQ(paired.status, 200) << paired.body;
  token_ = json(paired).value("token", "");
  ASSERT_EQ(testing::runCommand({LUMENVALE_BINARY, "--data", data_.path(), "settings", "set", "allowDelete", "true"}, 20s)
                .status,
            0);
  const nlohmann::json page = json(ask(*client, "GET", "/v1/assets", authorization()));
  ASSERT_FALSE(page["assets"].empty());
  const nlohmann::json& asset = page["assets"][0];
  const std::string name = asset["resources"][0]["name"];
  const std::string sha = Bytes::hex(Crypto::sha256(AtomicFile::read(photos_.path() + "/" + name).value()));
  const nlohmann::json request = {{"items", {{{"id", asset["id"]}, {"rid", "photo"}, {"sha256", sha}}}}};
  ASSERT_TRUE(client->request("POST", "/v1/delete", authorization(), request.dump()));
  const std::optional<std::string> question = program_->prompted("[y/N] ");
  ASSERT_TRUE(question);
  EXPECT_NE(question->find("Keep your photos and cancel this request?[8m"), std::string::npos) << *question;
  program_->writeLine("n");
  const std::optional<HttpResponse> answer = client->response();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 409);
  EXPECT_TRUE(fs::exists(photos_.path() + "/" + name));

  // Everything printed, the question and every Status: line included.
  std::vector<std::string> lines = {*question};
  while (std::optional<std::string> line = program_->nextLine(1500ms)) lines.push_back(*line);
  bool named = false;
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    named = named || line.find("Keep your photos") != std::string::npos;
    for (const unsigned char c : line) EXPECT_FALSE(c < 0x20 || c == 0x7f) << "control " << static_cast<int>(c);
    EXPECT_EQ(line.find("\xE2\x80\xAE"), std::string::npos);
  }
  EXPECT_TRUE(named);
}

}  // namespace
}  // namespace lumenvale
