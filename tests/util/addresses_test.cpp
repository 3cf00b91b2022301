#include "util/addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <deque>
#include <tuple>

namespace lumenvale {
namespace {

using Addresses::Address;

// A linked list of interface entries as getifaddrs would give it.
class Interfaces {
 public:
  Interfaces& add(const char* name, const char* ip, unsigned flags = IFF_UP) {
    sockaddr_in& address = addresses_.emplace_back();
    address.sin_family = AF_INET;
    inet_pton(AF_INET, ip, &address.sin_addr);
    return link(name, reinterpret_cast<sockaddr*>(&address), flags);
  }

  Interfaces& addIpv6(const char* name, const char* ip) {
    sockaddr_in6& address = addresses6_.emplace_back();
    address.sin6_family = AF_INET6;
    inet_pton(AF_INET6, ip, &address.sin6_addr);
    return link(name, reinterpret_cast<sockaddr*>(&address), IFF_UP);
  }

  Interfaces& addWithoutAddress(const char* name) { return link(name, nullptr, IFF_UP); }

  const ifaddrs* first() const { return entries_.empty() ? nullptr : &entries_.front(); }

 private:
  Interfaces& link(const char* name, sockaddr* address, unsigned flags) {
    ifaddrs& entry = entries_.emplace_back();
    entry.ifa_name = const_cast<char*>(name);
    entry.ifa_flags = flags;
    entry.ifa_addr = address;
    if (entries_.size() > 1) entries_[entries_.size() - 2].ifa_next = &entry;
    return *this;
  }

  std::deque<ifaddrs> entries_;  // a deque keeps the addresses the links point at
  std::deque<sockaddr_in> addresses_;
  std::deque<sockaddr_in6> addresses6_;
};

TEST(Addresses, KeepsReachableIpv4InOrder) {
  Interfaces interfaces;
  interfaces.add("lo", "127.0.0.1", IFF_UP | IFF_LOOPBACK)
      .add("wwan0", "10.20.0.5")
      .add("wlan0", "192.168.1.23")
      .add("bridge100", "192.168.2.1")
      .add("en0", "169.254.3.4")
      .add("enp3s0", "192.168.1.23")
      .add("eth1", "10.0.0.2", 0)
      .add("eth0", "10.0.0.3")
      .add("wlp2s0", "192.168.5.9")
      .add("docker0", "172.17.0.1")
      .addIpv6("wlan0", "fe80::1")
      .addWithoutAddress("enp4s0");
  EXPECT_EQ(
      Addresses::fromInterfaces(interfaces.first()),
      (std::vector<Address>{
          {"192.168.1.23", "wlan0"}, {"192.168.2.1", "bridge100"}, {"10.0.0.3", "eth0"}, {"192.168.5.9", "wlp2s0"}}));
}

TEST(Addresses, LoopbackAndCellularOnlyIsEmpty) {
  Interfaces interfaces;
  interfaces.add("lo", "127.0.0.1", IFF_UP | IFF_LOOPBACK).add("rmnet0", "10.1.2.3");
  EXPECT_TRUE(Addresses::fromInterfaces(interfaces.first()).empty());
  EXPECT_TRUE(Addresses::fromInterfaces(nullptr).empty());
}

TEST(Addresses, OnlyWhereTheDeviceListensIsOffered) {
  const std::vector<Addresses::Address> all = {{"192.168.1.23", "wlan0"}, {"10.0.0.5", "eth0"}};
  const std::vector<std::tuple<std::string, std::vector<Addresses::Address>>> cases = {
      {"", all},
      {"::", all},
      {"0.0.0.0", all},
      {"10.0.0.5", {{"10.0.0.5", "eth0"}}},
      {"127.0.0.1", {{"127.0.0.1", ""}}},
      {"fe80::1", {{"fe80::1", ""}}},
  };
  for (const auto& [listen, served] : cases) {
    SCOPED_TRACE(listen);
    EXPECT_EQ(Addresses::servedAt(all, listen), served);
  }
}

TEST(Addresses, ListReadsTheSystem) {
  // Whatever this machine has, every entry obeys the rules.
  for (const Address& address : Addresses::list()) {
    EXPECT_FALSE(address.ip.starts_with("127."));
    EXPECT_FALSE(address.ip.starts_with("169.254."));
    EXPECT_NE(address.ip.find('.'), std::string::npos);
  }
}

}  // namespace
}  // namespace lumenvale
