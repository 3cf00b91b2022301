// Lines typed on the terminal, read on a thread of their own: each whole
// line is handed to `onLine`, and the end of input (or a read error) to
// `onEnd`, once. Both run on the reader thread. Used by the terminal front
// end to hear the owner's answer to a delete question.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace lumenvale {

class TerminalInput {
 public:
  // Reads `input` (not closed here) until its end or until destroyed.
  TerminalInput(int input, std::function<void(const std::string&)> onLine, std::function<void()> onEnd);
  ~TerminalInput();
  TerminalInput(const TerminalInput&) = delete;
  TerminalInput& operator=(const TerminalInput&) = delete;

  // isYes: "y" or "yes", any case, with spaces around.
  static bool isYes(std::string line);

 private:
  void readLines();

  const int input_;
  int wake_[2] = {-1, -1};  // a byte here ends the reader thread
  std::function<void(const std::string&)> onLine_;
  std::function<void()> onEnd_;
  std::thread reader_;
};

}  // namespace lumenvale
