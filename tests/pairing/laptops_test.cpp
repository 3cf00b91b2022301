// Tests of the paired-laptops store over a real file in a temporary folder:
// contents, hashing, ordering, the file's form and mode, and unreadable files.
#include "pairing/laptops.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/program.h"
#include "util/atomic_file.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/text.h"

namespace lumenvale {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;

TimePoint at(nanoseconds sinceEpoch) { return TimePoint(std::chrono::duration_cast<TimePoint::duration>(sinceEpoch)); }

// The hash computed here from the primitives, not through the store.
std::string hashOf(const std::string& token) { return Bytes::hex(Crypto::sha256(token)); }

std::vector<std::string> ids(const std::vector<Laptop>& laptops) {
  std::vector<std::string> result;
  for (const Laptop& laptop : laptops) result.push_back(laptop.id);
  return result;
}

class LaptopsTest : public ::testing::Test {
 protected:
  std::string file() const { return folder_.path() + "/laptops.json"; }
  std::optional<std::string> content() const { return AtomicFile::read(file()); }

  testing::TemporaryFolder folder_{"laptops"};
};

TEST_F(LaptopsTest, AddsFindsAndReloadsFromAPrivateFile) {
  Laptops laptops(file());
  laptops.add("mac-1", "Studio", "token-one", at(seconds(1700000000)));
  laptops.add("pc-2", "", "token-two", at(seconds(1700000100)));

  const std::vector<Laptop> expected = {
      {"pc-2", "", hashOf("token-two"), 1700000100000.0},
      {"mac-1", "Studio", hashOf("token-one"), 1700000000000.0},
  };
  EXPECT_EQ(laptops.all(), expected);
  EXPECT_EQ(laptops.find("token-one"), expected[1]);
  EXPECT_EQ(laptops.find("token-two"), expected[0]);
  EXPECT_EQ(laptops.find("token-thr"), std::nullopt);

  // The file holds the stored order (oldest first), the four members, and
  // never the token itself.
  const std::string text = content().value();
  EXPECT_EQ(text.find("token-"), std::string::npos);
  const nlohmann::json stored = nlohmann::json::parse(text);
  ASSERT_TRUE(stored.is_array());
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(
      stored[0],
      (nlohmann::json{
          {"id", "mac-1"}, {"name", "Studio"}, {"tokenHash", hashOf("token-one")}, {"pairedAt", 1700000000000.0}}));
  EXPECT_EQ(stored[1]["id"], "pc-2");

  struct stat info {};
  ASSERT_EQ(::stat(file().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  Laptops reloaded(file());
  EXPECT_EQ(reloaded.all(), expected);
  EXPECT_EQ(reloaded.find("token-one"), expected[1]);
}

TEST_F(LaptopsTest, PairedAtIsMillisecondsWithTheFractionKept) {
  Laptops laptops(file());
  laptops.add("a", "", "t1", at(milliseconds(1500)));
  laptops.add("b", "", "t2", at(nanoseconds(1500250000)));
  laptops.add("c", "", "t3", at(nanoseconds(1733800000123456789)));
  const std::vector<Laptop> all = laptops.all();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[2].pairedAt, 1500.0);
  EXPECT_EQ(all[1].pairedAt, 1500.25);
  EXPECT_NEAR(all[0].pairedAt, 1733800000123.456789, 0.001);
  // The JSON text carries every bit of the double back.
  EXPECT_EQ(Laptops(file()).all(), all);
}

TEST_F(LaptopsTest, PairingAgainWithTheSameIdReplacesTheRecord) {
  Laptops laptops(file());
  laptops.add("same", "Old name", "old-token", at(seconds(100)));
  laptops.add("other", "Other", "other-token", at(seconds(200)));
  laptops.add("same", "New name", "new-token", at(seconds(300)));

  const Laptop renewed{"same", "New name", hashOf("new-token"), 300000.0};
  EXPECT_EQ(laptops.all(), (std::vector<Laptop>{renewed, {"other", "Other", hashOf("other-token"), 200000.0}}));
  EXPECT_EQ(laptops.find("old-token"), std::nullopt);
  EXPECT_EQ(laptops.find("new-token"), renewed);
  // The replacement goes to the end of the stored order; the others keep theirs.
  const nlohmann::json stored = nlohmann::json::parse(content().value());
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0]["id"], "other");
  EXPECT_EQ(stored[1]["id"], "same");
}

TEST_F(LaptopsTest, NamesAreCutToTheirFirstHundredCharacters) {
  const std::string accented = "e\xCC\x81";                                   // e + combining acute: 3 bytes
  const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // woman ZWJ girl: 11 bytes
  auto repeat = [](const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
  };
  struct Case {
    std::string label;
    std::string name;
    std::string stored;
  };
  const std::vector<Case> cases = {
      {"empty", "", ""},
      {"ascii 150", repeat("n", 150), repeat("n", 100)},
      {"accented 150", repeat(accented, 150), repeat(accented, 100)},
      {"emoji 150", repeat(family, 150), repeat(family, 100)},
      {"accented 100", repeat(accented, 100), repeat(accented, 100)},
      {"mixed 101", repeat("x", 1) + repeat(family, 100), repeat("x", 1) + repeat(family, 99)},
      // Shown to the owner beside the delete question: nothing in it may
      // move the cursor, clear the line or reorder the text.
      {"terminal controls are left out", "\x1b[2K\rKeep?\x1b[8m\n\t\x7f\xC2\x9B", "[2KKeep?[8m"},
      {"bidirectional controls are left out", "Desk\xE2\x80\xAEgpj\xE2\x81\xA6x\xE2\x80\x8F", "Deskgpjx"},
      {"bytes that are not UTF-8 become U+FFFD", "Desk\xFF", "Desk\xEF\xBF\xBD"},
      {"controls left out before the cut", repeat("\x1b", 50) + repeat("n", 150), repeat("n", 100)},
  };
  Laptops laptops(file());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    laptops.add("id", c.name, "token", at(seconds(1)));
    ASSERT_EQ(laptops.all().size(), 1u);
    EXPECT_EQ(laptops.all()[0].name, c.stored);
    EXPECT_EQ(Laptops(file()).all()[0].name, c.stored);
  }
  EXPECT_EQ(Text::graphemeCount(repeat(family, 100)), 100u);
}

// A file written before names were cleaned still never shows a control.
TEST_F(LaptopsTest, ANameStoredWithControlsLoadsWithout) {
  const nlohmann::json stored = nlohmann::json::array(
      {{{"id", "a"}, {"name", "\x1b[2KDesk\xE2\x80\xAE"}, {"tokenHash", hashOf("t")}, {"pairedAt", 1.0}}});
  ASSERT_TRUE(AtomicFile::write(file(), stored.dump()));
  const std::vector<Laptop> all = Laptops(file()).all();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, "[2KDesk");
}

TEST_F(LaptopsTest, UnreadableFileLoadsEmptyAndIsLeftUntilTheNextChange) {
  const std::string good = R"({"id":"a","name":"A","tokenHash":")" + hashOf("t") + R"(","pairedAt":1.5})";
  struct Case {
    std::string label;
    std::optional<std::string> content;  // nothing: no file at all
  };
  const std::vector<Case> cases = {
      {"missing", std::nullopt},
      {"empty", ""},
      {"not json", "laptops"},
      {"truncated", "[" + good},
      {"object", R"({"laptops":[]})"},
      {"element lacks tokenHash", "[" + good + R"(,{"id":"b","name":"B","pairedAt":2}])"},
      {"pairedAt is text", R"([{"id":"a","name":"A","tokenHash":"00","pairedAt":"1.5"}])"},
      {"name is null", R"([{"id":"a","name":null,"tokenHash":"00","pairedAt":1}])"},
      {"element is not an object", "[" + good + ",3]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove(file());
    if (c.content) {
      ASSERT_TRUE(AtomicFile::write(file(), *c.content));
    }

    Laptops laptops(file());
    int changes = 0;
    laptops.setOnChange([&](std::vector<Laptop>) { ++changes; });
    EXPECT_TRUE(laptops.all().empty());
    EXPECT_EQ(laptops.find("t"), std::nullopt);
    EXPECT_TRUE(laptops.forget("a"));
    EXPECT_EQ(content(), c.content);
    EXPECT_EQ(changes, 0);

    laptops.add("new", "New", "new-token", at(seconds(5)));
    EXPECT_EQ(changes, 1);
    const std::vector<Laptop> expected = {{"new", "New", hashOf("new-token"), 5000.0}};
    EXPECT_EQ(Laptops(file()).all(), expected);
  }
}

TEST_F(LaptopsTest, AFailedWriteAddsNothingWhileAForgetStillForgets) {
  Laptops laptops(file());
  ASSERT_TRUE(laptops.add("a", "A", "token", at(seconds(1))));
  std::vector<std::vector<Laptop>> told;
  laptops.setOnChange([&](std::vector<Laptop> list) { told.push_back(std::move(list)); });
  // A folder where the file should be: it cannot be replaced.
  ASSERT_TRUE(std::filesystem::remove(file()));
  ASSERT_TRUE(AtomicFile::makeDirectories(file() + "/inside"));
  const std::vector<Laptop> before = {{"a", "A", hashOf("token"), 1000.0}};
  for (const std::string id : {"b", "a"}) {
    SCOPED_TRACE(id);
    EXPECT_FALSE(laptops.add(id, "New", "new-token", at(seconds(2))));
    EXPECT_EQ(laptops.all(), before);
    EXPECT_EQ(laptops.find("token"), before[0]);
    EXPECT_EQ(laptops.find("new-token"), std::nullopt);
    EXPECT_TRUE(told.empty());
  }
  // Forgetting holds at once, in memory, whatever the disk does, and says
  // that the disk did not follow.
  EXPECT_FALSE(laptops.forget("a"));
  EXPECT_TRUE(laptops.all().empty());
  EXPECT_EQ(laptops.find("token"), std::nullopt);
  EXPECT_EQ(told.size(), 1u);
  EXPECT_TRUE(std::filesystem::is_directory(file()));
}

TEST_F(LaptopsTest, FindComparesAllAndTheLastStoredMatchWins) {
  Laptops laptops(file());
  // Two ids given the same token: only a hand-made or reused token does
  // this, but the answer must not depend on where the scan could stop.
  laptops.add("first", "", "shared", at(seconds(50)));
  laptops.add("second", "", "shared", at(seconds(90)));
  EXPECT_EQ(laptops.find("shared")->id, "second");
  // Re-adding "first" with an older time puts it last in stored order while
  // "second" stays the newest: the stored order decides.
  laptops.add("first", "", "shared", at(seconds(10)));
  EXPECT_EQ(ids(laptops.all()), (std::vector<std::string>{"second", "first"}));
  EXPECT_EQ(laptops.find("shared")->id, "first");
}

TEST_F(LaptopsTest, AnEmptyTokenFindsNothingEvenWhenItsHashIsStored) {
  Laptops laptops(file());
  laptops.add("blank", "", "", at(seconds(1)));
  ASSERT_EQ(laptops.all()[0].tokenHash, hashOf(""));
  EXPECT_EQ(laptops.find(""), std::nullopt);
}

TEST_F(LaptopsTest, ForgetRemovesAKnownIdAndIgnoresAnUnknownOne) {
  Laptops laptops(file());
  laptops.add("a", "A", "ta", at(seconds(1)));
  laptops.add("b", "B", "tb", at(seconds(2)));
  std::vector<std::vector<Laptop>> told;
  laptops.setOnChange([&](std::vector<Laptop> list) { told.push_back(std::move(list)); });

  // Replace the file behind the store's back: a write would overwrite it.
  ASSERT_TRUE(AtomicFile::write(file(), "sentinel"));
  EXPECT_TRUE(laptops.forget("nobody"));
  EXPECT_EQ(content(), "sentinel");
  EXPECT_TRUE(told.empty());
  EXPECT_EQ(laptops.all().size(), 2u);

  EXPECT_TRUE(laptops.forget("a"));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(ids(told[0]), std::vector<std::string>{"b"});
  EXPECT_EQ(laptops.find("ta"), std::nullopt);
  EXPECT_EQ(ids(Laptops(file()).all()), std::vector<std::string>{"b"});
}

TEST_F(LaptopsTest, NewestFirstAndEqualTimesKeepTheirStoredOrder) {
  Laptops laptops(file());
  std::vector<Laptop> lastTold;
  laptops.setOnChange([&](std::vector<Laptop> list) { lastTold = std::move(list); });
  laptops.add("a", "", "1", at(seconds(1)));
  laptops.add("b", "", "2", at(seconds(3)));
  laptops.add("c", "", "3", at(seconds(2)));
  laptops.add("d", "", "4", at(seconds(3)));
  laptops.add("e", "", "5", at(seconds(3)));
  const std::vector<std::string> expected = {"b", "d", "e", "c", "a"};
  EXPECT_EQ(ids(laptops.all()), expected);
  EXPECT_EQ(ids(lastTold), expected);
  EXPECT_EQ(ids(Laptops(file()).all()), expected);

  // A list long enough that an unstable sort would reorder equal times:
  // 60 laptops over three instants, loaded from a file.
  nlohmann::json many = nlohmann::json::array();
  std::vector<std::string> newestFirst[3];
  for (int i = 0; i < 60; ++i) {
    const std::string id = std::to_string(i) + "l";
    many.push_back({{"id", id}, {"name", ""}, {"tokenHash", hashOf(id)}, {"pairedAt", (i * 7) % 3}});
    newestFirst[2 - (i * 7) % 3].push_back(id);
  }
  ASSERT_TRUE(AtomicFile::write(file(), many.dump()));
  std::vector<std::string> expectedMany;
  for (const auto& group : newestFirst) expectedMany.insert(expectedMany.end(), group.begin(), group.end());
  EXPECT_EQ(ids(Laptops(file()).all()), expectedMany);
}

TEST_F(LaptopsTest, OnChangeRunsWithTheLockReleased) {
  Laptops laptops(file());
  std::vector<Laptop> seen;
  // Calling back into the store would deadlock if the lock were still held.
  laptops.setOnChange([&](std::vector<Laptop> list) {
    EXPECT_EQ(laptops.all(), list);
    seen = laptops.all();
    if (auto found = laptops.find("t")) seen.push_back(*found);
  });
  laptops.add("a", "A", "t", at(seconds(1)));
  const Laptop a{"a", "A", hashOf("t"), 1000.0};
  EXPECT_EQ(seen, (std::vector<Laptop>{a, a}));
}

TEST_F(LaptopsTest, ConcurrentChangesLeaveOneWholeList) {
  Laptops laptops(file());
  constexpr int kThreads = 4;
  constexpr int kEach = 6;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const std::string id = std::to_string(t) + "-" + std::to_string(i);
        laptops.add(id, id, "token-" + id, at(seconds(t * kEach + i)));
        EXPECT_TRUE(laptops.find("token-" + id).has_value());
        if (i % 2 == 1) {
          EXPECT_TRUE(laptops.forget(id));
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::vector<Laptop> all = laptops.all();
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach / 2));
  EXPECT_EQ(Laptops(file()).all(), all);
}

}  // namespace
}  // namespace lumenvale
