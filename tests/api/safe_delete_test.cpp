// Tests of the safe-list and delete endpoints through the router: the order
// of their checks, the refusals of a safe list, and that the delete switch
// is asked before the body is read.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

#include "api/api.h"
#include "library/photo_library.h"
#include "support/byte_streams.h"
#include "support/memory_photo_store.h"
#include "support/program.h"
#include "transport/http.h"

namespace lumenvale {
namespace {

using nlohmann::json;
using testing::StringSink;

const std::string kToken = "safe-token";

// Deletes the first item's asset and keeps the rest as "not_found", or
// refuses as told.
class RecordingDeleter : public Deleter {
 public:
  DeleteOutcome deleteAssets(const std::vector<DeleteItem>& items, const std::function<bool()>&) override {
    calls.push_back(items);
    if (refuse) throw DeleteRefused(*refuse);
    DeleteOutcome outcome;
    for (const DeleteItem& item : items) {
      if (outcome.deleted.empty()) {
        outcome.deleted.push_back(item.id);
      } else if (item.id != outcome.deleted.front()) {
        outcome.kept.emplace_back(item.id, "not_found");
      }
    }
    return outcome;
  }
  std::vector<std::vector<DeleteItem>> calls;
  std::optional<DeleteRefused::Reason> refuse;
};

class SafeDeleteTest : public ::testing::Test {
 protected:
  SafeDeleteTest()
      : folder_("safe-delete"),
        laptops_(folder_.path() + "/laptops.json"),
        pairing_(std::string(64, 'f')),
        library_(store_, nullptr),
        marks_(std::make_shared<SafeMarks>(folder_.path() + "/safe.json")),
        deleter_(std::make_shared<RecordingDeleter>()) {
    laptops_.add("laptop-1", "Desk", kToken, systemNow());
  }

  Api makeApi(bool withMarks = true) {
    Api::Callbacks callbacks;
    callbacks.deleteState = [this] {
      ++deleteStateReads_;
      return deleteState_;
    };
    callbacks.onRequest = [this](const Laptop&) { ++seen_; };
    if (withMarks) callbacks.marks = marks_;
    callbacks.deleter = deleter_;
    return Api(pairing_, laptops_, library_, callbacks);
  }

  // post answers one paired POST: status, and the body or error code.
  std::pair<int, json> post(const Api& api, const std::string& path, const std::string& body,
                            const std::string& token = kToken) {
    HttpRequest request;
    request.method = "POST";
    request.path = path;
    request.body = body;
    request.headers["authorization"] = "Bearer " + token;
    StringSink sink;
    try {
      api.route(request, sink);
    } catch (const HttpError& error) {
      return {error.status, Http::errorBody(error)};
    }
    return {std::stoi(sink.sent.substr(9, 3)), json::parse(sink.sent.substr(sink.sent.find("\r\n\r\n") + 4))};
  }

  testing::TemporaryFolder folder_;
  Laptops laptops_;
  Pairing pairing_;
  testing::MemoryPhotoStore store_;
  PhotoLibrary library_;
  std::shared_ptr<SafeMarks> marks_;
  std::shared_ptr<RecordingDeleter> deleter_;
  std::string deleteState_ = "on";
  int deleteStateReads_ = 0;
  int seen_ = 0;
};

json safeList(const json& total, const json& items, const json& id = "op-1") {
  return {{"operation", {{"id", id}, {"total", total}}}, {"items", items}};
}

json items(int count) {
  json list = json::array();
  for (int i = 0; i < count; ++i) {
    std::string id = "A";  // appended, not added: GCC 12 warns wrongly on "A" + text
    id += std::to_string(i);
    list.push_back({{"id", id}, {"modified", "2024-01-01T00:00:00Z"}});
  }
  return list;
}

TEST_F(SafeDeleteTest, ASafeListInTwoRequestsCompletes) {
  const Api api = makeApi();
  const json first = {{"id", "A1"}, {"modified", "m1"}};
  const json second = {{"id", "A2"}, {"modified", "m2"}, {"other", true}};
  EXPECT_EQ(post(api, "/v1/safe", safeList(2, json::array({first})).dump()), std::make_pair(200, json({{"complete", false}})));
  EXPECT_TRUE(marks_->ids().empty());
  EXPECT_EQ(post(api, "/v1/safe", safeList(2, json::array({second})).dump()), std::make_pair(200, json({{"complete", true}})));
  EXPECT_EQ(marks_->laptops("A2", "m2"), std::vector<std::string>{"laptop-1"});
  EXPECT_EQ(post(api, "/v1/safe", safeList(0, json::array(), "op-2").dump()).second, json({{"complete", true}}));
  EXPECT_TRUE(marks_->ids().empty());
  EXPECT_EQ(seen_, 3);
}

TEST_F(SafeDeleteTest, ASafeListIsRefusedWholeAndChangesNothing) {
  const Api api = makeApi();
  const json body = {{"error", "bad_request"}, {"message", "The body is not the JSON this path expects."}};
  const json list = {{"error", "bad_request"},
                     {"message", "A safe list carries 0 to 500 items of an operation with an id and a total."}};
  const json item = {{"error", "bad_request"}, {"message", "Each item of a safe list needs an asset id and its modified time."}};
  json noOperation = safeList(1, items(1));
  noOperation.erase("operation");
  json emptyOperation = safeList(1, items(1));
  emptyOperation["operation"] = json::object();
  json noItems = safeList(1, items(1));
  noItems.erase("items");
  const std::vector<std::pair<std::string, json>> cases = {
      {"", body},
      {"[1]", body},
      {"{\"operation\": ", body},
      {noOperation.dump(), list},
      {emptyOperation.dump(), list},
      {noItems.dump(), list},
      {safeList(1, "A1").dump(), list},
      {safeList(501, items(501)).dump(), list},
      {safeList(0, items(1)).dump(), list},
      {safeList(2.5, items(1)).dump(), list},
      {safeList("2", items(1)).dump(), list},
      {safeList(true, items(1)).dump(), list},
      {safeList(-1, items(1)).dump(), list},
      {"{\"operation\": {\"id\": \"op\", \"total\": 9223372036854775808}, \"items\": []}", list},
      {safeList(1, items(1), "").dump(), list},
      {safeList(1, items(1), "op/1").dump(), list},
      {safeList(1, items(1), std::string(129, 'o')).dump(), list},
      {safeList(1, items(1), 7).dump(), list},
      {safeList(1, {"A1"}).dump(), item},
      {safeList(1, {{{"id", "A/1"}, {"modified", "m"}}}).dump(), item},
      {safeList(1, {{{"id", "A+1"}, {"modified", "m"}}}).dump(), item},
      {safeList(1, {{{"id", "A1"}, {"modified", ""}}}).dump(), item},
      {safeList(1, {{{"id", "A1"}, {"modified", 5}}}).dump(), item},
      {safeList(2, {{{"id", "A1"}, {"modified", "m"}}, {{"modified", "m"}}}).dump(), item},
  };
  for (const auto& [text, error] : cases) {
    SCOPED_TRACE(text.substr(0, 160));
    EXPECT_EQ(post(api, "/v1/safe", text), std::make_pair(400, error));
  }
  EXPECT_TRUE(marks_->ids().empty());
  // What was accepted at the edges: 500 items, a whole total written as 3.0.
  EXPECT_EQ(post(api, "/v1/safe", safeList(500, items(500)).dump()).second, json({{"complete", true}}));
  EXPECT_EQ(post(api, "/v1/safe", safeList(3.0, items(1), "op-3").dump()).second, json({{"complete", false}}));
}

// A laptop's operation waits in memory until its total is reached, so the
// total is bounded by the library's size (with a margin for photos that left
// the device) and a fixed ceiling, and each field by its length.
TEST_F(SafeDeleteTest, ASafeListIsBoundedByTheLibraryAndByTheLengthOfItsFields) {
  for (int i = 0; i < 3; ++i) store_.add(testing::MemoryPhotoStore::photo("p" + std::to_string(i)));
  const Api api = makeApi();
  const std::int64_t allowed = 3 + SafeMarks::kLibraryMargin;
  const json tooLarge = {{"error", "bad_request"},
                         {"message", "A safe list holds at most " + std::to_string(allowed) +
                                         " assets here: the phone's library and a margin for photos that left it."}};
  const json longTime = {{"error", "bad_request"},
                         {"message", "The modified time of a safe-list item is at most 64 characters."}};
  const json atLimit = {{{"id", "A1"}, {"modified", std::string(SafeMarks::kMaxModifiedLength, 'm')}}};
  const json pastLimit = {{{"id", "A1"}, {"modified", std::string(SafeMarks::kMaxModifiedLength + 1, 'm')}}};
  struct Case {
    const char* name;
    json body;
    int status;
    json answer;
  };
  const std::vector<Case> cases = {
      {"one past the library and its margin", safeList(allowed + 1, items(1)), 413, tooLarge},
      {"past the fixed ceiling", safeList(SafeMarks::kMaxTotal + 1, items(1)), 413, tooLarge},
      {"the largest total there is", safeList(std::numeric_limits<std::int64_t>::max(), items(1)), 413, tooLarge},
      {"a modified time one past its length", safeList(1, pastLimit), 400, longTime},
      {"the library and its margin exactly", safeList(allowed, items(1), "op-2"), 200, {{"complete", false}}},
      {"a modified time of the longest length", safeList(1, atLimit, "op-3"), 200, {{"complete", true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(post(api, "/v1/safe", c.body.dump()), std::make_pair(c.status, c.answer));
  }
  EXPECT_EQ(marks_->ids(), std::set<std::string>{"A1"});
  EXPECT_EQ(SafeMarks::allowedTotal(std::nullopt), SafeMarks::kMaxTotal);
  EXPECT_EQ(SafeMarks::allowedTotal(SafeMarks::kMaxTotal), SafeMarks::kMaxTotal);
}

TEST_F(SafeDeleteTest, WithoutAMarksStoreThereIsNoSafePath) {
  const Api api = makeApi(false);
  EXPECT_EQ(post(api, "/v1/safe", safeList(0, json::array()).dump()).first, 404);
  EXPECT_EQ(seen_, 0);
}

TEST_F(SafeDeleteTest, TheDeleteSwitchComesBeforeTheBody) {
  const Api api = makeApi();
  const json off = {{"error", "delete_off"}, {"message", "Deleting is turned off on the phone."}};
  deleteState_ = "off";
  EXPECT_EQ(post(api, "/v1/delete", "this is not JSON"), std::make_pair(403, off));
  EXPECT_EQ(deleteStateReads_, 1);
  // Read afresh on every request.
  deleteState_ = "on";
  EXPECT_EQ(post(api, "/v1/delete", "[]"),
            std::make_pair(400, json({{"error", "bad_request"}, {"message", "The body is not the JSON this path expects."}})));
  const json one = {{"items", {{{"id", "A"}, {"rid", "photo"}, {"sha256", std::string(64, 'a')}}}}};
  EXPECT_EQ(post(api, "/v1/delete", one.dump()).first, 200);
  ASSERT_EQ(deleter_->calls.size(), 1u);
  EXPECT_EQ(deleter_->calls[0], (std::vector<DeleteItem>{{"A", "photo", std::string(64, 'a')}}));
  // An unpaired laptop is refused before the switch is asked.
  deleteStateReads_ = 0;
  EXPECT_EQ(post(api, "/v1/delete", "{}", "stranger").first, 401);
  EXPECT_EQ(deleteStateReads_, 0);

  Api::Callbacks noDeleter;
  noDeleter.deleteState = [] { return std::string("on"); };
  const Api without(pairing_, laptops_, library_, noDeleter);
  EXPECT_EQ(post(without, "/v1/delete", "{}"), std::make_pair(403, off));
}

json itemJson(const std::string& id, const std::string& rid, const std::string& hash) {
  return {{"id", id}, {"rid", rid}, {"sha256", hash}};
}

TEST_F(SafeDeleteTest, ADeleteIsReadInOrderAndRefusedWholeForAnyBrokenItem) {
  const Api api = makeApi();
  const std::string a(64, 'a');
  const std::string b(64, 'b');
  const json read = {{"items", {itemJson("A-_.~9", "photo", a), itemJson("A-_.~9", "photo", b), itemJson("B", "video", a)}},
                     {"other", 1}};
  EXPECT_EQ(post(api, "/v1/delete", read.dump()),
            std::make_pair(200, json({{"deleted", {"A-_.~9"}}, {"kept", {{{"id", "B"}, {"reason", "not_found"}}}}})));
  ASSERT_EQ(deleter_->calls.size(), 1u);
  EXPECT_EQ(deleter_->calls[0], (std::vector<DeleteItem>{{"A-_.~9", "photo", a}, {"A-_.~9", "photo", b}, {"B", "video", a}}));
  const std::vector<json> fiveHundred(500, itemJson("id", "photo", a));
  EXPECT_EQ(post(api, "/v1/delete", json({{"items", fiveHundred}}).dump()).first, 200);
  deleter_->calls.clear();

  const std::string itemError = "Each item needs an id, a rid and a 64-character sha256.";
  const std::string countError = "A delete carries 1 to 500 items.";
  const std::vector<json> fiveHundredOne(501, itemJson("id", "photo", a));
  const std::vector<std::pair<json, std::string>> refused = {
      {json::object(), itemError},
      {{{"items", "photo"}}, itemError},
      {{{"items", json::object()}}, itemError},
      {{{"items", json::array()}}, countError},
      {{{"items", fiveHundredOne}}, countError},
      {{{"items", {itemJson("ok", "photo", a), 5}}}, itemError},
      {{{"items", {{{"rid", "photo"}, {"sha256", a}}}}}, itemError},
      {{{"items", {itemJson("", "photo", a)}}}, itemError},
      {{{"items", {itemJson("a/b", "photo", a)}}}, itemError},
      {{{"items", {itemJson("a+b", "photo", a)}}}, itemError},
      {{{"items", {itemJson(std::string(129, 'i'), "photo", a)}}}, itemError},
      {{{"items", {itemJson("id", "Photo", a)}}}, itemError},
      {{{"items", {itemJson("id", std::string(17, 'r'), a)}}}, itemError},
      {{{"items", {itemJson("id", "", a)}}}, itemError},
      {{{"items", {itemJson("id", "photo", std::string(64, 'A'))}}}, itemError},
      {{{"items", {itemJson("id", "photo", std::string(63, 'a'))}}}, itemError},
      {{{"items", {itemJson("id", "photo", std::string(65, 'a'))}}}, itemError},
      {{{"items", {{{"id", "id"}, {"rid", "photo"}, {"sha256", 12}}}}}, itemError},
  };
  for (const auto& [body, message] : refused) {
    SCOPED_TRACE(body.dump().substr(0, 200));
    EXPECT_EQ(post(api, "/v1/delete", body.dump()),
              std::make_pair(400, json({{"error", "bad_request"}, {"message", message}})));
  }
  EXPECT_TRUE(deleter_->calls.empty());
}

TEST_F(SafeDeleteTest, ARefusedDeleteIsToldInTheLaptopsWords) {
  const Api api = makeApi();
  const std::string body = json({{"items", {itemJson("A", "photo", std::string(64, 'a'))}}}).dump();
  const std::vector<std::tuple<DeleteRefused::Reason, int, json>> cases = {
      {DeleteRefused::Reason::busy, 409,
       {{"error", "busy"}, {"message", "Another delete is waiting for an answer on the phone."}}},
      {DeleteRefused::Reason::cancelled, 409,
       {{"error", "cancelled"}, {"message", "The delete was cancelled on the phone. Nothing was deleted."}}},
      {DeleteRefused::Reason::noOneToAsk, 503,
       {{"error", "no_one_to_ask"},
        {"message", "No one can answer on the device: open the app or run it in a terminal. Nothing was deleted."}}},
  };
  for (const auto& [reason, status, answer] : cases) {
    SCOPED_TRACE(answer.dump());
    deleter_->refuse = reason;
    EXPECT_EQ(post(api, "/v1/delete", body), std::make_pair(status, answer));
  }
}

}  // namespace
}  // namespace lumenvale
