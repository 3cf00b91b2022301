#include "app/terminal_input.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "util/text.h"

namespace lumenvale {

TerminalInput::TerminalInput(int input, std::function<void(const std::string&)> onLine, std::function<void()> onEnd)
    : input_(input), onLine_(std::move(onLine)), onEnd_(std::move(onEnd)) {
  if (::pipe2(wake_, O_CLOEXEC) != 0) {
    // Without a way to stop a reader there is none: as if the input ended.
    if (onEnd_) onEnd_();
    return;
  }
  reader_ = std::thread([this] { readLines(); });
}

TerminalInput::~TerminalInput() {
  if (reader_.joinable()) {
    const char stop = 0;
    [[maybe_unused]] const ssize_t written = ::write(wake_[1], &stop, 1);
    reader_.join();
  }
  for (int fd : wake_) {
    if (fd >= 0) ::close(fd);
  }
}

bool TerminalInput::isYes(std::string line) {
  const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
  line.erase(line.begin(), std::find_if_not(line.begin(), line.end(), space));
  line.erase(std::find_if_not(line.rbegin(), line.rend(), space).base(), line.end());
  line = Text::asciiLower(line);
  return line == "y" || line == "yes";
}

void TerminalInput::readLines() {
  std::string pending;
  for (;;) {
    pollfd watch[2] = {{input_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(watch, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (watch[1].revents != 0) return;  // being destroyed
    char buffer[1024];
    const ssize_t got = ::read(input_, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t newline = pending.find('\n'); newline != std::string::npos; newline = pending.find('\n')) {
      if (onLine_) onLine_(pending.substr(0, newline));
      pending.erase(0, newline + 1);
    }
    // A line longer than any answer is no answer; keep only its start.
    if (pending.size() > 1024) pending.resize(1024);
  }
  if (onEnd_) onEnd_();
}

}  // namespace lumenvale
