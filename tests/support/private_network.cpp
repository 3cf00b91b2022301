#include "support/private_network.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace lumenvale::testing {
namespace {

bool entered = false;
std::string notEntered = "the test's main did not try";

std::string failure(const std::string& what) { return what + ": " + std::strerror(errno); }

bool loopbackUp(std::string& why) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return why = failure("socket"), false;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (up) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    up = ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  }
  if (!up) why = failure("bringing loopback up");
  ::close(fd);
  return up;
}

bool enter(std::string& why) {
  if (::geteuid() == 0) {
    if (::unshare(CLONE_NEWNET) != 0) return why = failure("unshare"), false;
  } else {
    // Without root, a user namespace of our own gives the right to make one;
    // inside it this process is root, mapped to the user who ran it.
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return why = failure("unshare"), false;
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
    std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
  }
  return loopbackUp(why);
}

}  // namespace

bool enterPrivateNetwork(std::string& why) {
  entered = enter(why);
  if (!entered) notEntered = why;
  return entered;
}

bool privateNetwork(std::string* why) {
  if (why != nullptr) *why = entered ? std::string() : notEntered;
  return entered;
}

}  // namespace lumenvale::testing
