// Tests of the terminal's delete question over a pipe standing in for the
// keyboard: what counts as yes, lines typed with no question open, the
// deadline, and the end of input.
#include "app/terminal_asker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <future>

namespace lumenvale {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class TerminalAskerTest : public ::testing::Test {
 protected:
  TerminalAskerTest() {
    if (::pipe(keyboard_) != 0) std::abort();
    asker_ = std::make_unique<TerminalAsker>(keyboard_[0], [this](const std::string& text) {
      std::lock_guard hold(mutex_);
      printed_ += text;
      if (text.ends_with("[y/N] ")) prompted_.notify_all();
    });
  }
  ~TerminalAskerTest() override {
    asker_.reset();
    ::close(keyboard_[0]);
    if (keyboard_[1] >= 0) ::close(keyboard_[1]);
  }

  void type(const std::string& text) { ASSERT_EQ(::write(keyboard_[1], text.data(), text.size()), static_cast<ssize_t>(text.size())); }

  // answer asks on another thread, types `typed` once the question shows,
  // and returns the answer.
  bool answer(const std::string& typed, std::chrono::milliseconds within = 10s) {
    std::size_t before = 0;
    {
      std::lock_guard hold(mutex_);
      before = printed_.size();
    }
    std::future<bool> asked = std::async(std::launch::async, [&] { return asker_->ask("Delete?", Clock::now() + within); });
    {
      std::unique_lock hold(mutex_);
      prompted_.wait_for(hold, 10s, [&] { return printed_.size() > before; });
    }
    type(typed);
    return asked.get();
  }

  int keyboard_[2] = {-1, -1};
  std::mutex mutex_;
  std::condition_variable prompted_;
  std::string printed_;
  std::unique_ptr<TerminalAsker> asker_;
};

TEST_F(TerminalAskerTest, OnlyYesDeletes) {
  for (const char* line : {"y\n", "yes\n", " YES \n", "Y\r\n"}) {
    SCOPED_TRACE(line);
    EXPECT_TRUE(answer(line));
  }
  for (const char* line : {"n\n", "\n", "yess\n", "ok\n", "y es\n"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(answer(line));
  }
  EXPECT_EQ(printed_.substr(0, 15), "Delete? [y/N] D");
}

TEST_F(TerminalAskerTest, ALineTypedBeforeTheQuestionDoesNotAnswerIt) {
  type("yes\n");
  ::usleep(100000);  // read and dropped by then
  const auto started = Clock::now();
  EXPECT_FALSE(asker_->ask("Delete?", Clock::now() + 300ms));
  EXPECT_GE(Clock::now() - started, 300ms);
  // The unanswered question's line was ended.
  EXPECT_EQ(printed_, "Delete? [y/N] \n");
  // A yes after the deadline changes nothing, and the next question is
  // answered as usual.
  type("yes\n");
  ::usleep(100000);
  EXPECT_FALSE(answer("no\n"));
}

TEST_F(TerminalAskerTest, TheEndOfInputAnswersNo) {
  std::future<bool> asked = std::async(std::launch::async, [&] { return asker_->ask("Delete?", Clock::now() + 10s); });
  {
    std::unique_lock hold(mutex_);
    prompted_.wait_for(hold, 10s, [&] { return !printed_.empty(); });
  }
  const auto started = Clock::now();
  ::close(keyboard_[1]);
  keyboard_[1] = -1;
  EXPECT_FALSE(asked.get());
  EXPECT_LT(Clock::now() - started, 5s);
  EXPECT_FALSE(asker_->ask("Again?", Clock::now() + 10s));
}

TEST_F(TerminalAskerTest, ClosingAnswersTheOpenQuestionNo) {
  std::future<bool> asked = std::async(std::launch::async, [&] { return asker_->ask("Delete?", Clock::now() + 10s); });
  {
    std::unique_lock hold(mutex_);
    prompted_.wait_for(hold, 10s, [&] { return !printed_.empty(); });
  }
  asker_->close();
  EXPECT_EQ(asked.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(asked.get());
}

}  // namespace
}  // namespace lumenvale
