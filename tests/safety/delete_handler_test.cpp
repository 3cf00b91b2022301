// Tests of the verified delete: reading the request, deciding asset by
// asset, and the handler over an in-memory photo store with a fake owner
// who answers yes, no, or edits a photo while deciding.
#include "safety/delete_handler.h"

#include <gtest/gtest.h>

#include <map>

#include <condition_variable>
#include <future>
#include <thread>

#include "library/photo_library.h"
#include "support/byte_streams.h"
#include "support/memory_photo_store.h"
#include "transport/http.h"
#include "transport/http_request.h"
#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale {
namespace {

using testing::MemoryPhotoStore;
using testing::StringSink;
using Item = DeleteHandler::Item;
using nlohmann::json;

const std::string kHashA(64, 'a');
const std::string kHashB(64, 'b');

std::string sha(const std::string& data) { return Bytes::hex(Crypto::sha256(data)); }

json itemJson(const std::string& id, const std::string& rid, const std::string& hash) {
  return {{"id", id}, {"rid", rid}, {"sha256", hash}};
}

TEST(DeleteParse, ReadsItemsInOrderAndRefusesAnyBrokenOne) {
  EXPECT_EQ(DeleteHandler::parse({{"items", {itemJson("A-_.~9", "photo", kHashA), itemJson("A-_.~9", "photo", kHashB)}},
                                  {"other", 1}}),
            (std::vector<Item>{{"A-_.~9", "photo", kHashA}, {"A-_.~9", "photo", kHashB}}));
  std::vector<json> fiveHundred(500, itemJson("id", "photo", kHashA));
  EXPECT_EQ(DeleteHandler::parse({{"items", fiveHundred}}).size(), 500u);

  const std::string itemError = "Each item needs an id, a rid and a 64-character sha256.";
  const std::string countError = "A delete carries 1 to 500 items.";
  std::vector<json> fiveHundredOne(501, itemJson("id", "photo", kHashA));
  const std::vector<std::pair<json, std::string>> refused = {
      {json::object(), itemError},
      {{{"items", "photo"}}, itemError},
      {{{"items", json::object()}}, itemError},
      {{{"items", json::array()}}, countError},
      {{{"items", fiveHundredOne}}, countError},
      {{{"items", {itemJson("ok", "photo", kHashA), 5}}}, itemError},
      {{{"items", {{{"rid", "photo"}, {"sha256", kHashA}}}}}, itemError},
      {{{"items", {itemJson("", "photo", kHashA)}}}, itemError},
      {{{"items", {itemJson("a/b", "photo", kHashA)}}}, itemError},
      {{{"items", {itemJson("a+b", "photo", kHashA)}}}, itemError},
      {{{"items", {itemJson(std::string(129, 'i'), "photo", kHashA)}}}, itemError},
      {{{"items", {itemJson("id", "Photo", kHashA)}}}, itemError},
      {{{"items", {itemJson("id", std::string(17, 'r'), kHashA)}}}, itemError},
      {{{"items", {itemJson("id", "", kHashA)}}}, itemError},
      {{{"items", {itemJson("id", "photo", std::string(64, 'A'))}}}, itemError},
      {{{"items", {itemJson("id", "photo", std::string(63, 'a'))}}}, itemError},
      {{{"items", {itemJson("id", "photo", std::string(65, 'a'))}}}, itemError},
      {{{"items", {{{"id", "id"}, {"rid", "photo"}, {"sha256", 12}}}}}, itemError},
  };
  for (const auto& [body, message] : refused) {
    SCOPED_TRACE(body.dump().substr(0, 200));
    try {
      DeleteHandler::parse(body);
      ADD_FAILURE() << "accepted";
    } catch (const HttpError& error) {
      EXPECT_EQ(error.status, 400);
      EXPECT_EQ(error.code, "bad_request");
      EXPECT_EQ(error.message, message);
    }
  }
}

TEST(DeleteDecide, KeepsWhatCannotBeVerifiedAndSaysWhy) {
  // Asset "live" has a photo and a video; "still" only a photo; "gone" is
  // not on the device. Current hashes: photo a, video b; "still" photo a.
  const auto asset = [](const std::string& id) -> std::optional<Asset> {
    Asset found;
    found.id = id;
    if (id == "live") found.resources = {{"photo", "", "", {}}, {"video", "", "", {}}};
    else if (id == "still" || id == "other") found.resources = {{"photo", "", "", {}}};
    else if (id == "unreadable") found.resources = {{"photo", "", "", {}}};
    else return std::nullopt;
    return found;
  };
  int hashed = 0;
  const auto hash = [&](const std::string& id, const std::string& rid) -> std::optional<std::string> {
    ++hashed;
    if (id == "unreadable") return std::nullopt;
    return rid == "video" ? kHashB : kHashA;
  };
  using Kept = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    const char* label;
    std::vector<Item> items;
    std::vector<std::string> toTrash;
    Kept kept;
  };
  const std::vector<Case> cases = {
      {"every file matches", {{"live", "photo", kHashA}, {"live", "video", kHashB}}, {"live"}, {}},
      {"a file left out", {{"live", "photo", kHashA}}, {}, {{"live", "incomplete"}}},
      {"a file the asset does not have",
       {{"still", "photo", kHashA}, {"still", "video", kHashB}},
       {},
       {{"still", "incomplete"}}},
      {"one file differs", {{"live", "photo", kHashA}, {"live", "video", kHashA}}, {}, {{"live", "hash_mismatch"}}},
      {"a file that cannot be read", {{"unreadable", "photo", kHashA}}, {}, {{"unreadable", "hash_mismatch"}}},
      {"not on the device", {{"gone", "photo", kHashA}}, {}, {{"gone", "not_found"}}},
      {"the later hash of a repeated file wins",
       {{"still", "photo", kHashB}, {"other", "photo", kHashA}, {"still", "photo", kHashA}},
       {"still", "other"},
       {}},
      {"and may spoil an earlier good one", {{"still", "photo", kHashA}, {"still", "photo", kHashB}}, {}, {{"still", "hash_mismatch"}}},
      {"order of first appearance in both lists",
       {{"gone", "photo", kHashA},
        {"other", "photo", kHashA},
        {"live", "photo", kHashA},
        {"still", "photo", kHashA},
        {"gone", "photo", kHashB},
        {"live", "video", kHashA}},
       {"other", "still"},
       {{"gone", "not_found"}, {"live", "hash_mismatch"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const DeleteHandler::Decision decision = DeleteHandler::decide(c.items, asset, hash);
    EXPECT_EQ(decision.toTrash, c.toTrash);
    EXPECT_EQ(decision.kept, c.kept);
  }
  // Checking an asset stops at its first mismatch.
  hashed = 0;
  DeleteHandler::decide({{"live", "photo", kHashB}, {"live", "video", kHashB}}, asset, hash);
  EXPECT_EQ(hashed, 1);
}

// The handler over a store of three photos, with an owner whose answer
// each test sets.
class DeleteHandlerTest : public ::testing::Test {
 protected:
  DeleteHandlerTest()
      : library_(store_, nullptr, [] { return std::string("UTC"); }),
        handler_(library_, [this](const DeleteHandler::Question& question, const std::function<bool()>& unchanged,
                                  const std::function<bool()>& wanted) -> std::optional<DeleteHandler::Outcome> {
          asked_.push_back(question.ids);
          questions_.push_back(question);
          if (duringAsk_) duringAsk_();
          if (!answer_ || !wanted() || !unchanged()) return std::nullopt;
          // The platform deletes all but what it is told to keep.
          DeleteHandler::Outcome outcome;
          for (const std::string& asked : question.ids) {
            if (platformKeeps_.count(asked) != 0) {
              outcome.kept.emplace_back(asked, platformKeeps_.at(asked));
            } else {
              outcome.deleted.push_back(asked);
            }
          }
          return outcome;
        },
        [this] { return anyoneToAsk_; }) {
    for (const char* local : {"P1", "P2", "P3"}) add(local);
  }

  void add(const std::string& local) { store_.add(MemoryPhotoStore::photo(local, 1000, "pixels of " + local)); }

  static std::string id(const std::string& local) { return PhotoLibrary::wireId(local); }

  static json request(const std::vector<std::string>& locals) {
    json items = json::array();
    for (const std::string& local : locals) items.push_back(itemJson(id(local), "photo", sha("pixels of " + local)));
    return {{"items", items}};
  }

  // send returns the status and body of the handler's answer.
  std::pair<int, json> send(const json& body) {
    StringSink sink;
    try {
      handler_.deleteAssets(body, sink);
    } catch (const HttpError& error) {
      return {error.status, Http::errorBody(error)};
    }
    const std::size_t bodyAt = sink.sent.find("\r\n\r\n");
    return {std::stoi(sink.sent.substr(9, 3)), json::parse(sink.sent.substr(bodyAt + 4))};
  }

  MemoryPhotoStore store_;
  PhotoLibrary library_;
  bool answer_ = true;
  bool anyoneToAsk_ = true;
  std::function<void()> duringAsk_;
  std::vector<std::vector<std::string>> asked_;
  std::vector<DeleteHandler::Question> questions_;
  std::map<std::string, std::string> platformKeeps_;  // id -> reason
  DeleteHandler handler_;
};

TEST_F(DeleteHandlerTest, HashesStreamTheWholeFile) {
  EXPECT_EQ(handler_.hashOf(id("P1"), "photo"), sha("pixels of P1"));
  store_.setPieceBytes(3);
  EXPECT_EQ(handler_.hashOf(id("P2"), "photo"), sha("pixels of P2"));
  EXPECT_EQ(handler_.hashOf(id("P2"), "video"), std::nullopt);
  EXPECT_EQ(handler_.hashOf(id("nobody"), "photo"), std::nullopt);
}

TEST_F(DeleteHandlerTest, AYesDeletesWhatQualifiedAndReportsTheRest) {
  json body = request({"P1", "P2"});
  body["items"].push_back(itemJson(id("P3"), "photo", kHashA));  // not what P3 holds
  body["items"].push_back(itemJson(id("P9"), "photo", kHashA));
  const auto [status, answer] = send(body);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(answer, json({{"deleted", {id("P1"), id("P2")}},
                          {"kept", {{{"id", id("P3")}, {"reason", "hash_mismatch"}}, {{"id", id("P9")}, {"reason", "not_found"}}}}}));
  EXPECT_EQ(asked_, (std::vector<std::vector<std::string>>{{id("P1"), id("P2")}}));
}

TEST_F(DeleteHandlerTest, TheAnswerSaysWhatWasReallyDeletedAndWhatTheDeviceKept) {
  platformKeeps_[id("P2")] = "no_trash";
  json body = request({"P1", "P2"});
  body["items"].push_back(itemJson(id("P9"), "photo", kHashA));
  const auto [status, answer] = send(body);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(answer, json({{"deleted", {id("P1")}},
                          {"kept", {{{"id", id("P9")}, {"reason", "not_found"}}, {{"id", id("P2")}, {"reason", "no_trash"}}}}}));
  // The owner is asked with what the two photos amount to.
  ASSERT_EQ(questions_.size(), 1u);
  const DeleteHandler::Question& asked = questions_.front();
  EXPECT_EQ(asked.ids, (std::vector<std::string>{id("P1"), id("P2")}));
  EXPECT_EQ(asked.photos, 2);
  EXPECT_EQ(asked.videos, 0);
  EXPECT_EQ(asked.bytes, static_cast<std::int64_t>(std::string("pixels of P1").size() * 2));
  EXPECT_EQ(asked.firstDay.size(), 10u);
  EXPECT_LE(asked.firstDay, asked.lastDay);
}

TEST_F(DeleteHandlerTest, ALaptopThatHungUpDeletesNothing) {
  class GoneSink : public StringSink {
   public:
    bool peerGone() const override { return true; }
  } gone;
  int status = 0;
  try {
    handler_.deleteAssets(request({"P1"}), gone);
  } catch (const HttpError& error) {
    status = error.status;
  }
  EXPECT_EQ(status, 409);
  EXPECT_EQ(asked_.size(), 1u);
  EXPECT_TRUE(gone.sent.empty());
}

// With nobody to answer (a service without a terminal) the laptop hears why
// at once, whether that was so before it asked or became so while it
// waited; nothing is asked or deleted.
TEST_F(DeleteHandlerTest, NobodyToAnswerIsSaidAtOnce) {
  const json refusal = {{"error", "no_one_to_ask"},
                        {"message", "No one can answer on the device: open the app or run it in a terminal. Nothing was deleted."}};
  anyoneToAsk_ = false;
  EXPECT_EQ(send(request({"P1"})), std::make_pair(503, refusal));
  EXPECT_TRUE(asked_.empty());
  anyoneToAsk_ = true;
  answer_ = false;
  duringAsk_ = [this] { anyoneToAsk_ = false; };
  EXPECT_EQ(send(request({"P1"})), std::make_pair(503, refusal));
  EXPECT_EQ(asked_.size(), 1u);
  EXPECT_EQ(library_.count(), std::optional<std::int64_t>(3));
}

TEST_F(DeleteHandlerTest, NothingQualifyingAsksNobody) {
  json body = {{"items", {itemJson(id("P1"), "photo", kHashA)}}};
  const auto [status, answer] = send(body);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(answer, json({{"deleted", json::array()}, {"kept", {{{"id", id("P1")}, {"reason", "hash_mismatch"}}}}}));
  EXPECT_TRUE(asked_.empty());
}

TEST_F(DeleteHandlerTest, ANoCancelsAndTheNextRequestIsServed) {
  answer_ = false;
  const auto [status, answer] = send(request({"P1"}));
  EXPECT_EQ(status, 409);
  EXPECT_EQ(answer, json({{"error", "cancelled"}, {"message", "The delete was cancelled on the phone. Nothing was deleted."}}));
  answer_ = true;
  EXPECT_EQ(send(request({"P1"})).first, 200);
  // A refused request never made the handler busy.
  EXPECT_EQ(send({{"items", json::array()}}).first, 400);
  EXPECT_EQ(send(request({"P2"})).first, 200);
}

TEST_F(DeleteHandlerTest, APhotoChangedWhileTheOwnerDecidesIsNotDeleted) {
  // Rewritten in place: same name, same dates, other bytes.
  duringAsk_ = [this] {
    MemoryPhotoStore::StoredFile rewritten;
    rewritten.file = {PhotoStore::kPhotoResource, "IMG_P1.JPG", "public.jpeg", "P1"};
    rewritten.data = "retouched pixels";
    store_.replaceFiles("P1", {rewritten});
  };
  EXPECT_EQ(send(request({"P1", "P2"})).first, 409);
  // A file added to the asset meanwhile counts as a change too.
  duringAsk_ = [this] {
    MemoryPhotoStore::StoredFile edit;
    edit.file = {PhotoStore::kFullSizePhotoResource, "IMG_E2.JPG", "public.jpeg", "E2"};
    store_.addFile("P2", edit);
  };
  EXPECT_EQ(send(request({"P2"})).first, 409);
}

TEST_F(DeleteHandlerTest, OneDeleteAtATime) {
  std::promise<void> asking;
  std::promise<void> answered;
  std::shared_future<void> answer = answered.get_future().share();
  duringAsk_ = [&] {
    asking.set_value();
    answer.wait();
  };
  std::future<std::pair<int, json>> first = std::async(std::launch::async, [&] { return send(request({"P1"})); });
  asking.get_future().wait();
  const auto [status, body] = send(request({"P2"}));
  EXPECT_EQ(status, 409);
  EXPECT_EQ(body, json({{"error", "busy"}, {"message", "Another delete is waiting for an answer on the phone."}}));
  answered.set_value();
  EXPECT_EQ(first.get().first, 200);
  duringAsk_ = nullptr;

  // A response that cannot be written still frees the handler.
  class BrokenSink : public ByteSink {
   public:
    void send(std::string_view) override { throw ConnectionClosed(); }
  } broken;
  EXPECT_THROW(handler_.deleteAssets(request({"P2"}), broken), ConnectionClosed);
  EXPECT_EQ(send(request({"P3"})).first, 200);
}

}  // namespace
}  // namespace lumenvale
