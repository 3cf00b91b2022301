// Runs a helper program (a daemon or its control tool, a service browser) to
// its end for end-to-end tests and gives back what it printed. Every run has
// a deadline: a program still running when it passes is killed. Used from one
// test thread.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/program.h"

namespace lumenvale::testing {

struct CommandResult {
  // The exit status, or -1 when the program did not end in time.
  int status = -1;
  // Standard output and standard error, interleaved as written.
  std::string output;
};

// runCommand runs `arguments` (the first is the program's path) with its
// input from /dev/null. It returns once the program itself has exited, even
// when a daemon it forked still holds the output open.
inline CommandResult runCommand(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) std::abort();
  const Argv argv(arguments);  // nothing may be allocated after the fork
  const pid_t pid = ::fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    const int nothing = ::open("/dev/null", O_RDONLY);
    ::dup2(nothing, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(out[1], STDERR_FILENO);
    execOrExit(argv);
  }
  ::close(out[1]);

  CommandResult result;
  char buffer[4096];
  // Reads whatever is ready within `wait`; false once the output has ended.
  const auto readReady = [&](int wait) {
    pollfd watch{out[0], POLLIN, 0};
    if (::poll(&watch, 1, wait) <= 0) return true;
    const ssize_t got = ::read(out[0], buffer, sizeof buffer);
    if (got <= 0) return false;
    result.output.append(buffer, static_cast<std::size_t>(got));
    return true;
  };

  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool open = true;
  for (;;) {
    if (open) {
      open = readReady(20);
    } else {
      ::usleep(20000);
    }
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      while (open) {
        const std::size_t before = result.output.size();
        open = readReady(0);
        if (result.output.size() == before) break;
      }
      result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      break;
    }
  }
  ::close(out[0]);
  return result;
}

}  // namespace lumenvale::testing
