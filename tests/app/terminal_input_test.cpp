// Tests of the terminal's line reader over a pipe standing in for the
// keyboard: whole lines in order however they arrive, the end of input, and
// what counts as yes.
#include "app/terminal_input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

namespace lumenvale {
namespace {

using namespace std::chrono_literals;

class TerminalInputTest : public ::testing::Test {
 protected:
  TerminalInputTest() {
    if (::pipe(keyboard_) != 0) std::abort();
  }
  ~TerminalInputTest() override {
    ::close(keyboard_[0]);
    if (keyboard_[1] >= 0) ::close(keyboard_[1]);
  }

  std::unique_ptr<TerminalInput> listen() {
    return std::make_unique<TerminalInput>(
        keyboard_[0],
        [this](const std::string& line) {
          std::lock_guard hold(mutex_);
          lines_.push_back(line);
          changed_.notify_all();
        },
        [this] {
          std::lock_guard hold(mutex_);
          ++ended_;
          changed_.notify_all();
        });
  }

  void type(const std::string& text) {
    ASSERT_EQ(::write(keyboard_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  bool waitFor(const std::function<bool()>& done) {
    std::unique_lock hold(mutex_);
    return changed_.wait_for(hold, 10s, done);
  }

  int keyboard_[2] = {-1, -1};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  int ended_ = 0;
};

TEST_F(TerminalInputTest, HandsOverWholeLinesInOrderThenTheEnd) {
  auto input = listen();
  type("y");
  type("es\nno\n\npart");
  ASSERT_TRUE(waitFor([&] { return lines_.size() == 3; }));
  type("ial\n");
  ASSERT_TRUE(waitFor([&] { return lines_.size() == 4; }));
  EXPECT_EQ(lines_, (std::vector<std::string>{"yes", "no", "", "partial"}));
  EXPECT_EQ(ended_, 0);
  type("never ended");
  ::close(keyboard_[1]);
  keyboard_[1] = -1;
  ASSERT_TRUE(waitFor([&] { return ended_ == 1; }));
  EXPECT_EQ(lines_.size(), 4u);
}

TEST_F(TerminalInputTest, StopsReadingWhenDestroyed) {
  auto input = listen();
  input.reset();  // the keyboard never ends: the reader must not wait for it
  EXPECT_EQ(ended_, 0);
}

TEST(TerminalInputYes, OnlyYAndYes) {
  for (const char* line : {"y", "yes", " YES ", "Y\r", "\tyes"}) EXPECT_TRUE(TerminalInput::isYes(line)) << line;
  for (const char* line : {"n", "", "yess", "ok", "y es", "no"}) EXPECT_FALSE(TerminalInput::isYes(line)) << line;
}

}  // namespace
}  // namespace lumenvale
