// The IPv4 addresses at which a laptop on the local network can reach this
// device, for the screens. Each call takes a fresh snapshot of the system's
// interfaces; safe to call from any thread.
#pragma once

#include <string>
#include <vector>

struct ifaddrs;

namespace lumenvale::Addresses {

struct Address {
  std::string ip;         // numeric IPv4, for example 192.168.1.23
  std::string interface;  // the interface that carries it, for example wlan0

  bool operator==(const Address&) const = default;
};

// list returns the addresses of the interfaces that are up, not loopback,
// IPv4, named like a wired, Wi-Fi or bridge interface ("en", "eth", "wl",
// "bridge"), and not link-local; each address once, first interface wins.
// Empty when the system cannot be asked.
std::vector<Address> list();

// fromInterfaces applies list()'s rules to a list the system gave.
std::vector<Address> fromInterfaces(const ifaddrs* first);

// servedAt keeps of `all` the addresses a device listening on `listen`
// (a --listen address; empty, "::" or "0.0.0.0" for every one) can be
// reached at: the screens show laptops only addresses that answer, and the
// --listen address itself when no listed interface carries it.
std::vector<Address> servedAt(std::vector<Address> all, const std::string& listen);

}  // namespace lumenvale::Addresses
