// Tests of the safe marks store over a real file: operations split over
// requests, laptops kept apart, replacement, the modified-time rule, the
// file's form and mode, and a file that cannot be read.
#include "safety/safe_marks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "support/program.h"
#include "util/atomic_file.h"
#include "util/identifiers.h"

namespace lumenvale {
namespace {

using Items = std::vector<SafeMarks::Item>;

class SafeMarksTest : public ::testing::Test {
 protected:
  SafeMarksTest() : folder_("safe-marks"), file_(folder_.path() + "/safe.json") {}

  nlohmann::json stored() const { return nlohmann::json::parse(AtomicFile::read(file_).value_or("null")); }

  testing::TemporaryFolder folder_;
  std::string file_;
};

TEST_F(SafeMarksTest, OperationsCompleteWhenTheirDistinctItemsReachTheFirstTotal) {
  // Each step is one request from laptop "L"; `complete` is what it returns
  // and `marks` the ids L then holds safely (time "t" throughout).
  struct Step {
    const char* op;
    Items items;
    std::int64_t total;
    bool complete;
    std::set<std::string> marks;
  };
  struct Case {
    const char* label;
    std::vector<Step> steps;
  };
  const std::vector<Case> cases = {
      {"three items in two requests",
       {{"op1", {{"a", "t"}, {"b", "t"}}, 3, false, {}}, {"op1", {{"c", "t"}}, 3, true, {"a", "b", "c"}}}},
      {"the same request twice stays short of its total",
       {{"op1", {{"a", "t"}, {"b", "t"}}, 3, false, {}}, {"op1", {{"a", "t"}, {"b", "t"}}, 3, false, {}}}},
      {"a later, larger total is ignored",
       {{"op1", {{"a", "t"}}, 2, false, {}}, {"op1", {{"b", "t"}}, 5, true, {"a", "b"}}}},
      {"a new operation drops the one under way",
       {{"op1", {{"a", "t"}}, 2, false, {}},
        {"op2", {{"b", "t"}}, 2, false, {}},
        {"op2", {{"c", "t"}}, 2, true, {"b", "c"}}}},
      {"more items than the total complete at once",
       {{"op1", {{"a", "t"}, {"b", "t"}, {"c", "t"}}, 2, true, {"a", "b", "c"}}}},
      {"a total of 0 completes with nothing safe", {{"op1", {{"a", "t"}}, 1, true, {"a"}}, {"op2", {}, 0, true, {}}}},
      {"a completed list replaces the marks as a whole",
       {{"op1", {{"a", "t"}, {"b", "t"}}, 2, true, {"a", "b"}}, {"op2", {{"c", "t"}}, 1, true, {"c"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove(file_);
    SafeMarks marks(file_);
    int step = 0;
    for (const Step& s : c.steps) {
      SCOPED_TRACE(step++);
      EXPECT_EQ(marks.receive("L", s.items, s.op, s.total), s.complete);
      EXPECT_EQ(marks.ids(), s.marks);
    }
  }
}

TEST_F(SafeMarksTest, LaptopsNeverMixAndOnlyTheSameModifiedTimeCounts) {
  SafeMarks marks(file_);
  int changes = 0;
  marks.setOnChange([&] { ++changes; });
  // Two laptops with operations of the same id under way at once.
  EXPECT_FALSE(marks.receive("laptop-b", {{"a", "t1"}}, "op", 2));
  EXPECT_FALSE(marks.receive("laptop-a", {{"a", "t1"}}, "op", 2));
  EXPECT_EQ(changes, 0);
  EXPECT_TRUE(marks.receive("laptop-a", {{"b", "t1"}}, "op", 2));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(marks.laptops("a", "t1"), std::vector<std::string>{"laptop-a"});
  EXPECT_TRUE(marks.receive("laptop-b", {{"c", "t1"}}, "op", 2));
  EXPECT_EQ(marks.laptops("a", "t1"), (std::vector<std::string>{"laptop-a", "laptop-b"}));

  // Edited since: not safe, until a list with the new time completes.
  EXPECT_TRUE(marks.laptops("a", "t2").empty());
  EXPECT_TRUE(marks.receive("laptop-b", {{"a", "t2"}, {"c", "t1"}}, "op2", 2));
  EXPECT_EQ(marks.laptops("a", "t2"), std::vector<std::string>{"laptop-b"});
  EXPECT_EQ(marks.laptops("a", "t1"), std::vector<std::string>{"laptop-a"});
  // A later item for the same asset in one operation wins.
  EXPECT_TRUE(marks.receive("laptop-a", {{"a", "t1"}, {"a", "t3"}}, "op3", 1));
  EXPECT_EQ(marks.laptops("a", "t3"), std::vector<std::string>{"laptop-a"});
  EXPECT_EQ(marks.ids(), (std::set<std::string>{"a", "c"}));
}

TEST_F(SafeMarksTest, PersistsCompletedListsOnlyAndForgets) {
  int changes = 0;
  {
    SafeMarks marks(file_);
    marks.setOnChange([&] { ++changes; });
    EXPECT_TRUE(marks.receive("L1", {{"a", "t1"}}, "op", 1));
    EXPECT_TRUE(marks.receive("L2", {{"b", "t2"}}, "op", 1));
    EXPECT_FALSE(marks.receive("L2", {{"c", "t3"}}, "next", 2));  // under way: never written
  }
  EXPECT_EQ(stored(), nlohmann::json({{"L1", {{"a", "t1"}}}, {"L2", {{"b", "t2"}}}}));
  struct stat info {};
  ASSERT_EQ(::stat(file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  SafeMarks reloaded(file_);
  reloaded.setOnChange([&] { ++changes; });
  EXPECT_EQ(reloaded.laptops("b", "t2"), std::vector<std::string>{"L2"});
  // The operation under way was lost with the process: it starts afresh.
  EXPECT_FALSE(reloaded.receive("L2", {{"d", "t4"}}, "next", 2));
  EXPECT_EQ(reloaded.ids(), (std::set<std::string>{"a", "b"}));

  changes = 0;
  EXPECT_TRUE(reloaded.forget("nobody"));
  EXPECT_EQ(changes, 0);
  EXPECT_TRUE(reloaded.forget("L2"));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(stored(), nlohmann::json({{"L1", {{"a", "t1"}}}}));
  // Its operation under way went with it.
  EXPECT_FALSE(reloaded.receive("L2", {{"e", "t5"}}, "next", 2));
  EXPECT_EQ(reloaded.ids(), std::set<std::string>{"a"});
}

// A file written by hand or by another program may hold marks this device
// never accepts from a laptop; those alone are dropped as it is read.
TEST_F(SafeMarksTest, MarksBeyondTheCapsAreDroppedWhenTheFileIsRead) {
  const std::string longest(SafeMarks::kMaxModifiedLength, 'm');
  const nlohmann::json content = {
      {"L1",
       {{"ok", "t1"},
        {std::string(Identifiers::kMaxIdLength, 'a'), "t2"},
        {std::string(Identifiers::kMaxIdLength + 1, 'b'), "t3"},
        {"not/an/id", "t4"},
        {"long", longest + "x"},
        {"longest", longest},
        {"empty", ""}}},
      {"L2", {{"other", "t5"}}},
      {"L3", nlohmann::json::object()},
  };
  ASSERT_TRUE(AtomicFile::write(file_, content.dump()));
  SafeMarks marks(file_);
  EXPECT_EQ(marks.ids(),
            (std::set<std::string>{"ok", std::string(Identifiers::kMaxIdLength, 'a'), "longest", "other"}));
  EXPECT_EQ(marks.laptops("longest", longest), std::vector<std::string>{"L1"});
  EXPECT_EQ(marks.laptops("other", "t5"), std::vector<std::string>{"L2"});
  // The store itself keeps to the caps whatever its caller checked.
  EXPECT_TRUE(marks.receive("L2", {{"fine", "t"}, {"x", longest + "x"}, {"bad id", "t"}}, "op", 1));
  EXPECT_EQ(marks.laptops("fine", "t"), std::vector<std::string>{"L2"});
  EXPECT_TRUE(marks.laptops("x", longest + "x").empty());
}

TEST_F(SafeMarksTest, AFileThatCannotBeReadIsNoMarksAndIsRewrittenByTheNextList) {
  for (const char* content : {"not json", "[1, 2]", "{\"L\": [\"a\"]}", "{\"L\": {\"a\": 5}}", ""}) {
    SCOPED_TRACE(content);
    ASSERT_TRUE(AtomicFile::write(file_, content));
    SafeMarks marks(file_);
    EXPECT_TRUE(marks.ids().empty());
    EXPECT_TRUE(marks.receive("L", {{"x", "t"}}, "op", 1));
    EXPECT_EQ(stored(), nlohmann::json({{"L", {{"x", "t"}}}}));
  }
  std::filesystem::remove(file_);
  std::filesystem::create_directory(file_);  // in the way: writes fail, memory holds
  SafeMarks marks(file_);
  EXPECT_TRUE(marks.receive("L", {{"x", "t"}}, "op", 1));
  EXPECT_EQ(marks.laptops("x", "t"), std::vector<std::string>{"L"});
  // A forget holds in memory and says that the file did not follow.
  EXPECT_FALSE(marks.forget("L"));
  EXPECT_TRUE(marks.laptops("x", "t").empty());
}

}  // namespace
}  // namespace lumenvale
