// Questions for the owner in the terminal front end: each is printed as a
// line that ends in "[y/N] " and answered by the next line typed on
// standard input; "y" or "yes" (any case) is yes, anything else is no. One
// question at a time; lines typed while none is open are dropped; once the
// input has ended, every question is answered no at once.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "safety/sheet_answer.h"

namespace lumenvale {

class TerminalAsker {
 public:
  // prompt writes a question without ending the line.
  using Prompt = std::function<void(const std::string& text)>;

  // Reads lines from `input` (not closed here) on a thread of its own.
  TerminalAsker(int input, Prompt prompt);
  ~TerminalAsker();
  TerminalAsker(const TerminalAsker&) = delete;
  TerminalAsker& operator=(const TerminalAsker&) = delete;

  // ask prints `question` followed by " [y/N] " and waits for the answer
  // until `deadline`: true only for a yes typed in time. False at once when
  // another question is open or the input has ended.
  bool ask(const std::string& question, std::chrono::steady_clock::time_point deadline);

  // close answers the open question no, and every later one at once.
  void close();

  // isYes: "y" or "yes", any case, with spaces around.
  static bool isYes(std::string line);

 private:
  void readLines();
  void answer(bool yes);  // answers the open question, if any

  const int input_;
  int wake_[2] = {-1, -1};  // a byte here ends the reader thread
  Prompt prompt_;
  std::mutex mutex_;
  std::shared_ptr<SheetAnswer> open_;  // guarded by mutex_
  bool ended_ = false;                 // guarded by mutex_
  std::thread reader_;
};

}  // namespace lumenvale
