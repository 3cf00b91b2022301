#include "transport/listen_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <deque>

namespace lumenvale {
namespace {

// A linked list of interface entries as getifaddrs would give it.
class Interfaces {
 public:
  Interfaces& add(const char* name, const char* ip) {
    sockaddr_in& address = ipv4_.emplace_back();
    address.sin_family = AF_INET;
    inet_pton(AF_INET, ip, &address.sin_addr);
    return link(name, reinterpret_cast<sockaddr*>(&address));
  }

  Interfaces& addIpv6(const char* name, const char* ip, std::uint32_t scope = 0) {
    sockaddr_in6& address = ipv6_.emplace_back();
    address.sin6_family = AF_INET6;
    address.sin6_scope_id = scope;
    inet_pton(AF_INET6, ip, &address.sin6_addr);
    return link(name, reinterpret_cast<sockaddr*>(&address));
  }

  const ifaddrs* first() const { return entries_.empty() ? nullptr : &entries_.front(); }

 private:
  Interfaces& link(const char* name, sockaddr* address) {
    ifaddrs& entry = entries_.emplace_back();
    entry.ifa_name = const_cast<char*>(name);
    entry.ifa_flags = IFF_UP;
    entry.ifa_addr = address;
    if (entries_.size() > 1) entries_[entries_.size() - 2].ifa_next = &entry;
    return *this;
  }

  std::deque<ifaddrs> entries_;  // a deque keeps the addresses the links point at
  std::deque<sockaddr_in> ipv4_;
  std::deque<sockaddr_in6> ipv6_;
};

TEST(ListenAddress, ChoosesTheSocketsToTry) {
  std::string loopbackScope = "%";
  loopbackScope += std::to_string(::if_nametoindex("lo"));
  struct Case {
    std::string given;
    // Each socket to try, in order: its family, its text, and whether it
    // takes IPv4 on an IPv6 socket.
    std::vector<std::tuple<int, std::string, bool>> sockets;
  };
  const std::vector<Case> cases = {
      // Unless told otherwise, IPv6 too: many resolvers give a laptop the
      // link-local IPv6 address first. IPv4 alone on a system without IPv6.
      {"", {{AF_INET6, "::", true}, {AF_INET, "0.0.0.0", false}}},
      {"::", {{AF_INET6, "::", true}, {AF_INET, "0.0.0.0", false}}},
      {"0.0.0.0", {{AF_INET, "0.0.0.0", false}}},
      {"127.0.0.1", {{AF_INET, "127.0.0.1", false}}},
      {"192.168.1.23", {{AF_INET, "192.168.1.23", false}}},
      {"::1", {{AF_INET6, "::1", false}}},
      {"2001:db8::5", {{AF_INET6, "2001:db8::5", false}}},
      {"fe80::1%lo", {{AF_INET6, "fe80::1%lo", false}}},
      {"fe80::1" + loopbackScope, {{AF_INET6, "fe80::1%lo", false}}},
      // Names are not looked up, and loose IPv4 forms are not taken.
      {"localhost", {}},
      {"127.1", {}},
      {"1.2.3.4.5", {}},
      {"fe80::1%no-such-interface", {}},
      {"fe80::1%", {}},
      {"[::1]", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.given + "\"");
    std::vector<std::tuple<int, std::string, bool>> sockets;
    for (const ListenAddress& choice : ListenAddress::choices(c.given)) {
      sockets.emplace_back(choice.family(), choice.text(), choice.dualStack);
      EXPECT_EQ(choice.length, choice.family() == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6));
    }
    EXPECT_EQ(sockets, c.sockets);
  }
}

TEST(ListenAddress, ReachesOnlyWhereItListens) {
  Interfaces interfaces;
  interfaces.add("lo", "127.0.0.1")
      .addIpv6("lo", "::1")
      .add("wlan0", "192.168.1.23")
      .addIpv6("wlan0", "fe80::1", 3)
      .addIpv6("eth0", "fe80::1", 2)
      .addIpv6("eth0", "2001:db8::5");
  using Reach = Advertiser::Reach;
  struct Case {
    std::string given;
    std::optional<Reach> reach;
  };
  const std::vector<Case> cases = {
      {"", Reach{true, true, ""}},
      {"0.0.0.0", Reach{true, false, ""}},
      {"127.0.0.1", Reach{true, false, "lo"}},
      {"192.168.1.23", Reach{true, false, "wlan0"}},
      {"::1", Reach{false, true, "lo"}},
      {"2001:db8::5", Reach{false, true, "eth0"}},
      // The same link-local address on two links: its scope says which.
      {"fe80::1%2", Reach{false, true, "eth0"}},
      {"fe80::1%3", Reach{false, true, "wlan0"}},
      // Bound somehow, but no interface carries it: announced nowhere.
      {"10.9.9.9", std::nullopt},
      {"2001:db8::6", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.given + "\"");
    const std::vector<ListenAddress> choices = ListenAddress::choices(c.given);
    ASSERT_FALSE(choices.empty());
    EXPECT_EQ(ListenAddress::reach(choices.front(), interfaces.first()), c.reach);
  }
  // The IPv4 wildcard a system without IPv6 falls back to.
  EXPECT_EQ(ListenAddress::reach(ListenAddress::choices("").back(), nullptr), (Reach{true, false, ""}));
}

}  // namespace
}  // namespace lumenvale
