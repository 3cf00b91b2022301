// A D-Bus session bus of a test's own, started with dbus-daemon and stopped
// when the object goes, so that a test can put fake desktop services on it
// without touching the machine's.
#pragma once

#include <signal.h>

#include <QString>
#include <cstdio>
#include <cstdlib>

namespace lumenvale::testing {

class PrivateBus {
 public:
  PrivateBus() {
    std::FILE* started = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
    if (started == nullptr) return;
    char line[512];
    if (std::fgets(line, sizeof line, started) != nullptr) address = QString::fromUtf8(line).trimmed();
    if (std::fgets(line, sizeof line, started) != nullptr) pid = std::atoi(line);
    ::pclose(started);
  }
  ~PrivateBus() {
    if (pid > 0) ::kill(pid, SIGTERM);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  QString address;  // empty when the bus did not start
  int pid = 0;
};

}  // namespace lumenvale::testing
