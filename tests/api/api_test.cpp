#include "api/api.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "library/photo_library.h"
#include "support/byte_streams.h"
#include "support/memory_photo_store.h"
#include "support/program.h"
#include "transport/http.h"

namespace lumenvale {
namespace {

using testing::StringSink;

const std::string kFingerprint(64, 'f');
const std::string kToken = "tok-en_0123456789";

struct Answer {
  int status = 0;
  std::string code;  // the error code, for refusals
  nlohmann::json body;
  int seen = 0;      // onRequest calls
  int vouched = 0;   // the sink told that the token is valid
};

class ApiTest : public ::testing::Test {
 protected:
  ApiTest()
      : folder_("api"),
        laptops_(folder_.path() + "/laptops.json"),
        pairing_(kFingerprint),
        library_(store_, nullptr),
        api_(pairing_, laptops_, library_, callbacks()) {
    laptops_.add("laptop-1", "Desk", kToken, systemNow());
  }

  Api::Callbacks callbacks() {
    Api::Callbacks callbacks;
    callbacks.info = [] { return DeviceInfo{"dev-id", "Phone", "aarch64", "0.1.0", kFingerprint}; };
    callbacks.deleteState = [] { return std::string("off"); };
    callbacks.onRequest = [this](const Laptop& laptop) {
      ++seen_;
      lastSeen_ = laptop.id;
    };
    callbacks.access = [this] { return access_; };
    callbacks.storage = [this]() -> std::optional<Api::Storage> { return storage_; };
    return callbacks;
  }

  Answer ask(const std::string& method, const std::string& path, std::optional<std::string> authorization) {
    HttpRequest request;
    request.method = method;
    request.path = path;
    if (authorization) request.headers["authorization"] = *authorization;
    StringSink sink;
    Answer answer;
    const int before = seen_;
    try {
      api_.route(request, sink);
      const std::size_t end = sink.sent.find("\r\n\r\n");
      answer.status = std::stoi(sink.sent.substr(9, 3));
      answer.body = nlohmann::json::parse(sink.sent.substr(end + 4));
    } catch (const HttpError& error) {
      answer.status = error.status;
      answer.code = error.code;
    }
    answer.seen = seen_ - before;
    answer.vouched = sink.authentications;
    return answer;
  }

  testing::TemporaryFolder folder_;
  Laptops laptops_;
  Pairing pairing_;
  testing::MemoryPhotoStore store_;
  PhotoLibrary library_;
  Api api_;
  int seen_ = 0;
  std::string lastSeen_;
  std::optional<Api::Storage> storage_ = Api::Storage{64000000000, 12000000000};
  LibraryAccess access_ = LibraryAccess::full;
};

TEST_F(ApiTest, InfoTellsWhoTheDeviceIsAndWhetherTheCallerIsPaired) {
  const Answer anonymous = ask("GET", "/v1/info", std::nullopt);
  ASSERT_EQ(anonymous.status, 200);
  EXPECT_EQ(anonymous.body, nlohmann::json({{"v", 1}, {"deviceId", "dev-id"}, {"name", "Phone"}, {"os", "ios"},
                                            {"model", "aarch64"}, {"appVersion", "0.1.0"},
                                            {"fingerprint", kFingerprint}, {"paired", false}, {"delete", "off"},
                                            {"access", "full"},
                                            {"storage", {{"total", 64000000000}, {"free", 12000000000}}}}));
  EXPECT_TRUE(ask("GET", "/v1/info", "Bearer " + kToken).body["paired"]);
  EXPECT_FALSE(ask("GET", "/v1/info", "Bearer wrong").body["paired"]);
  // Info never counts as a laptop being seen.
  EXPECT_EQ(ask("GET", "/v1/info", "Bearer " + kToken).seen, 0);
  storage_.reset();
  EXPECT_FALSE(ask("GET", "/v1/info", std::nullopt).body.contains("storage"));
  // Laptops hear "partial" while part of the library cannot be read, and
  // "full" otherwise, however little was chosen.
  const std::vector<std::pair<LibraryAccess, std::string>> accesses = {{LibraryAccess::limited, "partial"},
                                                                       {LibraryAccess::full, "full"},
                                                                       {LibraryAccess::denied, "full"},
                                                                       {LibraryAccess::notAsked, "full"}};
  for (const auto& [access, said] : accesses) {
    access_ = access;
    EXPECT_EQ(ask("GET", "/v1/info", std::nullopt).body["access"], said);
  }
}

TEST_F(ApiTest, RoutesUnknownPathsAndMalformedIdsToNotFoundBeforeAuthentication) {
  const std::string id128(128, 'A');
  struct Case {
    std::string method;
    std::string path;
    bool paired;
    int status;
  };
  const std::vector<Case> cases = {
      {"GET", "/v1/info/", false, 404},
      {"GET", "/v1//info", false, 404},
      {"GET", "/v2/info", false, 404},
      {"GET", "/info", false, 404},
      {"GET", "v1/info", false, 404},
      {"POST", "/v1/info", false, 404},
      {"GET", "/v1/pair", false, 404},
      {"GET", "/v1/assets/x", true, 404},
      {"GET", "/v1/other", true, 404},
      {"GET", "/v1/assets/a%2Fb/thumb", false, 404},
      {"GET", "/v1/assets/" + id128 + "A/thumb", false, 404},
      {"GET", "/v1/assets/" + id128 + "/thumb", false, 401},
      {"GET", "/v1/assets/abc/res/" + std::string(17, 'r'), false, 404},
      {"GET", "/v1/assets/abc/res/" + std::string(16, 'r'), false, 401},
      {"GET", "/v1/assets/abc/res/Photo", false, 404},
      {"GET", "/v1/assets/abc/res/r1/thumb", true, 404},
      {"GET", "/v1/assets/abc/res/r1/sha256", false, 401},
      {"GET", "/v1/assets/abc/res/r1/sha256/x", true, 404},
      {"GET", "/v1/assets/abc/thumb/x", true, 404},
      {"GET", "/v1/assets", false, 401},
      {"POST", "/v1/delete", false, 401},
      {"POST", "/v1/delete/x", true, 404},
      // Without a safe marks store the safe endpoint does not exist at all.
      {"POST", "/v1/safe", true, 404},
      {"POST", "/v1/assets", true, 404},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.path);
    const Answer answer = ask(c.method, c.path, c.paired ? std::optional("Bearer " + kToken) : std::nullopt);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.code, c.status == 404 ? "not_found" : "unauthorized");
    EXPECT_EQ(answer.seen, 0);
  }
}

TEST_F(ApiTest, BearerTokenMustBeExactlyTheScheme) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"Bearer " + kToken, 1},        {"Bearer   " + kToken + "  ", 1}, {"bearer " + kToken, 0},
      {"Basic " + kToken, 0},         {"Bearer", 0},                    {"Bearer ", 0},
      {"Bearer" + kToken, 0},         {"Bearer wrong", 0},
  };
  for (const auto& [authorization, seen] : cases) {
    SCOPED_TRACE(authorization);
    const Answer answer = ask("GET", "/v1/assets/abc/thumb", authorization);
    EXPECT_EQ(answer.seen, seen);
    // A paired caller passes on to the handler; the others are refused.
    EXPECT_EQ(answer.status, seen == 1 ? 404 : 401);
  }
  EXPECT_EQ(lastSeen_, "laptop-1");
  HttpRequest request;
  request.headers["authorization"] = "Bearer  abc ";
  EXPECT_EQ(Api::token(request), "abc");
  request.headers.clear();
  EXPECT_EQ(Api::token(request), std::nullopt);
}

TEST_F(ApiTest, TellsTheConnectionOfAValidTokenBeforeAnswering) {
  struct Case {
    std::string method;
    std::string path;
    std::optional<std::string> authorization;
    int vouched;
  };
  const std::vector<Case> cases = {
      {"GET", "/v1/info", "Bearer " + kToken, 1},
      {"GET", "/v1/info", "Bearer wrong", 0},
      {"GET", "/v1/info", std::nullopt, 0},
      {"GET", "/v1/assets", "Bearer " + kToken, 1},
      {"GET", "/v1/assets", "Bearer wrong", 0},
      {"GET", "/v1/assets/abc/thumb", "Bearer " + kToken, 1},
      {"GET", "/v1/assets/abc/res/r1", std::nullopt, 0},
      {"POST", "/v1/pair", "Bearer " + kToken, 0},
      {"POST", "/v1/delete", "Bearer " + kToken, 1},
      // A malformed id is refused before the token is looked at.
      {"GET", "/v1/assets/a%2Fb/thumb", "Bearer " + kToken, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.path + " " + c.authorization.value_or("(none)"));
    EXPECT_EQ(ask(c.method, c.path, c.authorization).vouched, c.vouched);
  }

  // A connection with no laptop place left is not answered at all, and the
  // laptop is not counted as seen.
  class FullSink : public StringSink {
   public:
    void authenticated() override { throw ConnectionClosed(); }
  };
  HttpRequest request;
  request.method = "GET";
  request.path = "/v1/assets";
  request.headers["authorization"] = "Bearer " + kToken;
  FullSink full;
  const int seenBefore = seen_;
  EXPECT_THROW(api_.route(request, full), ConnectionClosed);
  EXPECT_TRUE(full.sent.empty());
  EXPECT_EQ(seen_, seenBefore);
}

TEST(ApiOrNull, AbsentIsNull) {
  EXPECT_EQ(orNull(std::optional<std::string>()), nlohmann::json(nullptr));
  EXPECT_EQ(orNull(std::optional<std::string>("x")), nlohmann::json("x"));
  EXPECT_EQ(orNull(std::optional<double>(1.5)), nlohmann::json(1.5));
}

}  // namespace
}  // namespace lumenvale
