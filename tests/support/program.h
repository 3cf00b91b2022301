// Runs the real lumenvale binary for end-to-end tests: standard output is
// read line by line with a deadline; the process is stopped and reaped when
// the object goes. Used from one test thread.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumenvale::testing {

// Argv is the C argument vector of `arguments` (the first is the program's
// path), made before fork. Between fork and exec a child of a threaded
// process may only make async-signal-safe calls: had another thread held
// the allocator's lock at the fork, an allocation in the child would wait
// for it forever, and the program would never start.
class Argv {
 public:
  explicit Argv(const std::vector<std::string>& arguments) : arguments_(arguments) {
    for (std::string& argument : arguments_) pointers_.push_back(argument.data());
    pointers_.push_back(nullptr);
  }
  Argv(const Argv&) = delete;
  Argv& operator=(const Argv&) = delete;

  char* const* get() const { return pointers_.data(); }

 private:
  std::vector<std::string> arguments_;
  std::vector<char*> pointers_;
};

// execOrExit replaces a forked child with the program of `argv`; the child
// exits with 127 when that fails. Allocates nothing.
[[noreturn]] inline void execOrExit(const Argv& argv) {
  ::execv(argv.get()[0], argv.get());
  ::_exit(127);
}

class Program {
 public:
  explicit Program(const std::vector<std::string>& arguments) {
    int out[2];
    int in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) std::abort();
    const Argv argv(arguments);
    pid_ = ::fork();
    if (pid_ == 0) {
      // Even a test that dies without cleaning up leaves no device behind.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(in[0], STDIN_FILENO);
      execOrExit(argv);
    }
    ::close(out[1]);
    ::close(in[0]);
    out_ = out[0];
    in_ = in[1];
  }

  ~Program() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    if (in_ >= 0) ::close(in_);
  }

  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // nextLine returns the next line printed (without its newline), or
  // nothing when the output ends or `timeout` passes first.
  std::optional<std::string> nextLine(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const std::size_t newline = pending_.find('\n');
      if (newline != std::string::npos) {
        std::string line = pending_.substr(0, newline);
        pending_.erase(0, newline + 1);
        lines_.push_back(line);
        return line;
      }
      if (!readMore(deadline)) return std::nullopt;
    }
  }

  // lineStartingWith skips lines until one begins with `prefix` and returns
  // the rest of it.
  std::optional<std::string> lineStartingWith(const std::string& prefix,
                                              std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      std::optional<std::string> line = nextLine(left);
      if (!line) return std::nullopt;
      if (line->starts_with(prefix)) return line->substr(prefix.size());
    }
  }

  // printed returns the rest of a line already read that begins with
  // `prefix`, or waits for one like lineStartingWith.
  std::optional<std::string> printed(const std::string& prefix,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    for (const std::string& line : lines_) {
      if (line.starts_with(prefix)) return line.substr(prefix.size());
    }
    return lineStartingWith(prefix, timeout);
  }

  // prompted waits until the line being printed (not yet ended) ends with
  // `ending`, and returns that line, or nothing when `timeout` passes.
  std::optional<std::string> prompted(const std::string& ending,
                                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const std::size_t newline = pending_.find('\n');
      if (newline != std::string::npos) {
        lines_.push_back(pending_.substr(0, newline));
        pending_.erase(0, newline + 1);
        continue;
      }
      if (pending_.ends_with(ending)) {
        std::string line;
        line.swap(pending_);
        return line;
      }
      if (!readMore(deadline)) return std::nullopt;
    }
  }

  void writeLine(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t written = ::write(in_, text.data(), text.size());
  }

  // stop sends `signal` and returns the exit status, or -1 when the program
  // did not exit within `timeout` (it is then killed).
  int stop(int signal = SIGTERM, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    ::kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      ::usleep(20000);
    }
    return -1;
  }

  const std::vector<std::string>& lines() const { return lines_; }

  // pid is the process id, for reading /proc or signalling it from another
  // thread.
  pid_t pid() const { return pid_; }

  // closeInput ends the program's standard input.
  void closeInput() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
  }

 private:
  // readMore waits until `deadline` for output and appends it to pending_;
  // false when the output ended or the time is up. A wait that ends with
  // nothing to read (a signal) is true: the caller looks again.
  bool readMore(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd watch{out_, POLLIN, 0};
    if (::poll(&watch, 1, static_cast<int>(left.count())) <= 0) return true;
    char buffer[4096];
    const ssize_t got = ::read(out_, buffer, sizeof buffer);
    if (got <= 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int in_ = -1;
  bool exited_ = false;
  std::string pending_;
  std::vector<std::string> lines_;
};

// A fresh, empty folder under the system's temporary folder, removed at the end.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& label) {
    std::string pattern = (std::filesystem::temp_directory_path() / ("lumenvale-" + label + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace lumenvale::testing
