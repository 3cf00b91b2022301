#include "app/terminal_asker.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace lumenvale {

TerminalAsker::TerminalAsker(int input, Prompt prompt) : input_(input), prompt_(std::move(prompt)) {
  if (::pipe2(wake_, O_CLOEXEC) != 0) {
    // Without a way to stop a reader there is none: questions are answered no.
    ended_ = true;
    return;
  }
  reader_ = std::thread([this] { readLines(); });
}

TerminalAsker::~TerminalAsker() {
  if (reader_.joinable()) {
    const char stop = 0;
    [[maybe_unused]] const ssize_t written = ::write(wake_[1], &stop, 1);
    reader_.join();
  }
  for (int fd : wake_) {
    if (fd >= 0) ::close(fd);
  }
  answer(false);
}

bool TerminalAsker::isYes(std::string line) {
  const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
  line.erase(line.begin(), std::find_if_not(line.begin(), line.end(), space));
  line.erase(std::find_if_not(line.rbegin(), line.rend(), space).base(), line.end());
  std::transform(line.begin(), line.end(), line.begin(), [](unsigned char c) { return std::tolower(c); });
  return line == "y" || line == "yes";
}

bool TerminalAsker::ask(const std::string& question, std::chrono::steady_clock::time_point deadline) {
  auto answer = std::make_shared<SheetAnswer>();
  {
    std::lock_guard hold(mutex_);
    if (ended_ || open_) return false;
    open_ = answer;
  }
  prompt_(question + " [y/N] ");
  const bool yes = answer->wait(deadline);
  // No line ended the question: end it, so the next output starts afresh.
  if (std::chrono::steady_clock::now() >= deadline) prompt_("\n");
  std::lock_guard hold(mutex_);
  if (open_ == answer) open_.reset();
  return yes;
}

void TerminalAsker::close() {
  {
    std::lock_guard hold(mutex_);
    ended_ = true;
  }
  answer(false);
}

void TerminalAsker::answer(bool yes) {
  std::shared_ptr<SheetAnswer> open;
  {
    std::lock_guard hold(mutex_);
    open.swap(open_);
  }
  if (open) open->decide(yes);
}

void TerminalAsker::readLines() {
  std::string pending;
  for (;;) {
    pollfd watch[2] = {{input_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(watch, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (watch[1].revents != 0) return;  // stopping: the open question is answered by the destructor
    char buffer[1024];
    const ssize_t got = ::read(input_, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t newline = pending.find('\n'); newline != std::string::npos; newline = pending.find('\n')) {
      answer(isYes(pending.substr(0, newline)));
      pending.erase(0, newline + 1);
    }
    // A line longer than any answer is no answer; keep only its start.
    if (pending.size() > 1024) pending.resize(1024);
  }
  {
    std::lock_guard hold(mutex_);
    ended_ = true;
  }
  answer(false);
}

}  // namespace lumenvale
