// A D-Bus system bus and an avahi-daemon for end-to-end tests that find the
// device by DNS-SD. A bus or daemon already running is used as it is and left
// alone; whatever this starts it stops when it goes, so a test leaves nothing
// running. The daemon it starts serves the loopback interface only and asks
// no wide-area servers: nothing leaves this machine. Starting either needs
// root (both keep their pid files under /run). Used from one test thread;
// every wait is bounded.
#pragma once

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "support/command.h"
#include "support/program.h"

namespace lumenvale::testing {

class AvahiDaemon {
 public:
  static constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";
  static constexpr const char* kAvahiDaemon = "/usr/sbin/avahi-daemon";
  static constexpr const char* kBusSocket = "/run/dbus/system_bus_socket";
  static constexpr const char* kBusPidFile = "/run/dbus/pid";
  static constexpr const char* kDaemonPidFile = "/run/avahi-daemon/pid";

  AvahiDaemon() = default;
  ~AvahiDaemon() {
    stop();
    stopBus();
  }
  AvahiDaemon(const AvahiDaemon&) = delete;
  AvahiDaemon& operator=(const AvahiDaemon&) = delete;

  // startBus makes sure a system bus answers, starting one if none does.
  // False (with failure() saying why) when none can be had.
  bool startBus() {
    if (busAnswers()) return true;
    std::error_code ignored;
    std::filesystem::create_directories("/run/dbus", ignored);
    // A bus that ended without cleaning up leaves its pid file, and
    // dbus-daemon refuses to start while the file is there.
    std::filesystem::remove(kBusPidFile, ignored);
    const CommandResult started = runCommand({kDbusDaemon, "--system", "--fork"}, std::chrono::seconds(10));
    if (started.status != 0) return fail("dbus-daemon --system --fork ended with " + describe(started));
    busPid_ = readPid(kBusPidFile);
    if (busPid_ <= 0) return fail("dbus-daemon wrote no pid to " + std::string(kBusPidFile));
    if (!waitUntil([] { return busAnswers(); }, std::chrono::seconds(5))) {
      return fail("the system bus started but does not answer on " + std::string(kBusSocket));
    }
    return true;
  }

  // start makes sure a system bus and avahi-daemon run, starting what is
  // missing. False (with failure() saying why) when they cannot.
  bool start() {
    if (!startBus()) return false;
    if (running()) return true;
    const std::string config = folder_.path() + "/avahi-daemon.conf";
    std::ofstream(config) << "[server]\n"
                             "allow-interfaces=lo\n"
                             "use-ipv4=yes\n"
                             "use-ipv6=no\n"
                             "enable-dbus=yes\n"
                             "[wide-area]\n"
                             "enable-wide-area=no\n"
                             "[publish]\n"
                             "publish-hinfo=no\n"
                             "publish-workstation=no\n"
                             "[reflector]\n"
                             "enable-reflector=no\n";
    // --daemonize returns once the daemon has set itself up (or failed to).
    const CommandResult started =
        runCommand({kAvahiDaemon, "--daemonize", "--no-drop-root", "--no-chroot", "--no-rlimits", "--file=" + config},
                   std::chrono::seconds(20));
    if (started.status != 0) return fail("avahi-daemon --daemonize ended with " + describe(started));
    daemonStarted_ = true;
    daemonPid_ = readPid(kDaemonPidFile);
    if (!waitUntil([] { return running(); }, std::chrono::seconds(5))) {
      return fail("avahi-daemon started but avahi-daemon --check does not see it");
    }
    return true;
  }

  // stop ends the avahi-daemon this object started, if any. False (with
  // failure() saying why) when it did not end on request.
  bool stop() {
    if (!daemonStarted_) return true;
    daemonStarted_ = false;
    const pid_t pid = daemonPid_;
    runCommand({kAvahiDaemon, "--kill"}, std::chrono::seconds(5));
    const auto gone = [pid] { return (pid <= 0 || ended(pid)) && !running(); };
    if (waitUntil(gone, std::chrono::seconds(5))) return true;
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      waitUntil([pid] { return ended(pid); }, std::chrono::seconds(2));
      // A killed daemon leaves its pid file, which would make the next
      // `avahi-daemon --check` believe it still runs.
      std::error_code ignored;
      if (readPid(kDaemonPidFile) == pid) std::filesystem::remove(kDaemonPidFile, ignored);
    }
    return fail("avahi-daemon did not end on --kill");
  }

  // running tells whether any avahi-daemon runs, this object's or another.
  static bool running() { return runCommand({kAvahiDaemon, "--check"}, std::chrono::seconds(5)).status == 0; }

  const std::string& failure() const { return failure_; }

  // busAnswers tells whether a system bus answers, this object's or another.
  static bool busAnswers() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, kBusSocket, sizeof address.sun_path - 1);
    const bool answers = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
  }

 private:
  // The bus this object started is ended by its pid: dbus-daemon has no
  // control tool, and it leaves its pid file and socket behind.
  void stopBus() {
    if (busPid_ <= 0) return;
    ::kill(busPid_, SIGTERM);
    if (!waitUntil([this] { return ended(busPid_); }, std::chrono::seconds(5))) {
      ::kill(busPid_, SIGKILL);
      waitUntil([this] { return ended(busPid_); }, std::chrono::seconds(2));
    }
    std::error_code ignored;
    if (readPid(kBusPidFile) == busPid_) std::filesystem::remove(kBusPidFile, ignored);
    std::filesystem::remove(kBusSocket, ignored);
    busPid_ = -1;
  }

  // ended tells whether `pid` is gone. Daemons are children of init, which
  // may never reap them, so a zombie counts as ended (kill(pid, 0) would
  // still succeed on it).
  static bool ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) return true;
    const char state = line[close + 2];
    return state == 'Z' || state == 'X';
  }

  static pid_t readPid(const std::string& path) {
    std::ifstream file(path);
    long pid = 0;
    if (!(file >> pid)) return -1;
    return static_cast<pid_t>(pid);
  }

  static bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (done()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  static std::string describe(const CommandResult& result) {
    return (result.status < 0 ? std::string("no exit in time") : "status " + std::to_string(result.status)) +
           (result.output.empty() ? "" : ": " + result.output);
  }

  bool fail(const std::string& why) {
    failure_ = why;
    return false;
  }

  TemporaryFolder folder_{"avahi"};
  pid_t busPid_ = -1;           // the bus this object started, else -1
  bool daemonStarted_ = false;  // whether the running avahi-daemon is this object's
  pid_t daemonPid_ = -1;        // its pid, when its pid file could be read
  std::string failure_;
};

}  // namespace lumenvale::testing
