// Tests of the verified delete: deciding asset by asset, and the handler
// over an in-memory photo store with a fake owner who answers yes, no, or
// edits a photo while deciding. What the laptop sends and hears is the
// API's (tests/api/safe_delete_test.cpp).
#include "safety/delete_handler.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <map>
#include <thread>
#include <variant>

#include "library/photo_library.h"
#include "support/memory_photo_store.h"
#include "util/bytes.h"
#include "util/crypto.h"

namespace lumenvale {
namespace {

using testing::MemoryPhotoStore;
using Item = DeleteHandler::Item;
using Outcome = DeleteHandler::Outcome;
using Reason = DeleteRefused::Reason;
using Kept = std::vector<std::pair<std::string, std::string>>;
using Result = std::variant<Outcome, Reason>;

const std::string kHashA(64, 'a');
const std::string kHashB(64, 'b');

std::string sha(const std::string& data) { return Bytes::hex(Crypto::sha256(data)); }

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

  // request names each photo's one file with the hash of what it holds.
  static std::vector<Item> request(const std::vector<std::string>& locals) {
    std::vector<Item> items;
    for (const std::string& local : locals) items.push_back({id(local), "photo", sha("pixels of " + local)});
    return items;
  }

  // send returns what the handler did, or why it refused.
  Result send(const std::vector<Item>& items, bool laptopThere = true) {
    try {
      return handler_.deleteAssets(items, [laptopThere] { return laptopThere; });
    } catch (const DeleteRefused& refused) {
      return refused.reason;
    }
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
  std::vector<Item> items = request({"P1", "P2"});
  items.push_back({id("P3"), "photo", kHashA});  // not what P3 holds
  items.push_back({id("P9"), "photo", kHashA});
  EXPECT_EQ(send(items), Result(Outcome{{id("P1"), id("P2")}, {{id("P3"), "hash_mismatch"}, {id("P9"), "not_found"}}}));
  EXPECT_EQ(asked_, (std::vector<std::vector<std::string>>{{id("P1"), id("P2")}}));
}

TEST_F(DeleteHandlerTest, TheAnswerSaysWhatWasReallyDeletedAndWhatTheDeviceKept) {
  platformKeeps_[id("P2")] = "no_trash";
  std::vector<Item> items = request({"P1", "P2"});
  items.push_back({id("P9"), "photo", kHashA});
  EXPECT_EQ(send(items), Result(Outcome{{id("P1")}, {{id("P9"), "not_found"}, {id("P2"), "no_trash"}}}));
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
  EXPECT_EQ(send(request({"P1"}), false), Result(Reason::cancelled));
  EXPECT_EQ(asked_.size(), 1u);
  EXPECT_EQ(library_.count(), std::optional<std::int64_t>(3));
}

// With nobody to answer (a service without a terminal) the laptop hears why
// at once, whether that was so before it asked or became so while it
// waited; nothing is asked or deleted.
TEST_F(DeleteHandlerTest, NobodyToAnswerIsSaidAtOnce) {
  anyoneToAsk_ = false;
  EXPECT_EQ(send(request({"P1"})), Result(Reason::noOneToAsk));
  EXPECT_TRUE(asked_.empty());
  anyoneToAsk_ = true;
  answer_ = false;
  duringAsk_ = [this] { anyoneToAsk_ = false; };
  EXPECT_EQ(send(request({"P1"})), Result(Reason::noOneToAsk));
  EXPECT_EQ(asked_.size(), 1u);
  EXPECT_EQ(library_.count(), std::optional<std::int64_t>(3));
}

TEST_F(DeleteHandlerTest, NothingQualifyingAsksNobody) {
  EXPECT_EQ(send({{id("P1"), "photo", kHashA}}), Result(Outcome{{}, {{id("P1"), "hash_mismatch"}}}));
  EXPECT_TRUE(asked_.empty());
}

TEST_F(DeleteHandlerTest, ANoCancelsAndTheNextRequestIsServed) {
  answer_ = false;
  EXPECT_EQ(send(request({"P1"})), Result(Reason::cancelled));
  answer_ = true;
  EXPECT_EQ(send(request({"P1"})), Result(Outcome{{id("P1")}, {}}));
  EXPECT_EQ(send(request({"P2"})), Result(Outcome{{id("P2")}, {}}));
}

TEST_F(DeleteHandlerTest, APhotoChangedWhileTheOwnerDecidesIsNotDeleted) {
  // Rewritten in place: same name, same dates, other bytes.
  duringAsk_ = [this] {
    MemoryPhotoStore::StoredFile rewritten;
    rewritten.file = {ResourceType::photo, "IMG_P1.JPG", "public.jpeg", "P1"};
    rewritten.data = "retouched pixels";
    store_.replaceFiles("P1", {rewritten});
  };
  EXPECT_EQ(send(request({"P1", "P2"})), Result(Reason::cancelled));
  // A file added to the asset meanwhile counts as a change too.
  duringAsk_ = [this] {
    MemoryPhotoStore::StoredFile edit;
    edit.file = {ResourceType::fullSizePhoto, "IMG_E2.JPG", "public.jpeg", "E2"};
    store_.addFile("P2", edit);
  };
  EXPECT_EQ(send(request({"P2"})), Result(Reason::cancelled));
  EXPECT_EQ(library_.count(), std::optional<std::int64_t>(3));
}

TEST_F(DeleteHandlerTest, OneDeleteAtATime) {
  std::promise<void> asking;
  std::promise<void> answered;
  std::shared_future<void> answer = answered.get_future().share();
  duringAsk_ = [&] {
    asking.set_value();
    answer.wait();
  };
  std::future<Result> first = std::async(std::launch::async, [&] { return send(request({"P1"})); });
  asking.get_future().wait();
  EXPECT_EQ(send(request({"P2"})), Result(Reason::busy));
  answered.set_value();
  EXPECT_EQ(first.get(), Result(Outcome{{id("P1")}, {}}));
  duringAsk_ = nullptr;

  // A refusal, or an owner's answer that throws, still frees the handler.
  answer_ = false;
  EXPECT_EQ(send(request({"P2"})), Result(Reason::cancelled));
  duringAsk_ = [] { throw std::runtime_error("the screen went away"); };
  EXPECT_THROW(send(request({"P2"})), std::runtime_error);
  duringAsk_ = nullptr;
  answer_ = true;
  EXPECT_EQ(send(request({"P3"})), Result(Outcome{{id("P3")}, {}}));
}

}  // namespace
}  // namespace lumenvale
