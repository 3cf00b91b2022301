// The address the server is told to listen on (the --listen text), read
// into the sockets it may open and into where the service then answers, so
// that it is announced there only. Pure functions over values; safe on any
// thread.
#pragma once

#include <sys/socket.h>

#include <optional>
#include <string>
#include <vector>

#include "transport/advertiser.h"

struct ifaddrs;

namespace lumenvale {

struct ListenAddress {
  sockaddr_storage address{};  // port 0: the caller sets the port it tries
  socklen_t length = 0;
  bool dualStack = false;  // the IPv6 wildcard taking IPv4 too (IPV6_V6ONLY off)

  int family() const { return address.ss_family; }
  bool wildcard() const;
  // text is the numeric address, with "%interface" for a link-local one.
  std::string text() const;

  // choices returns the sockets to try for `given`, the first that the
  // system supports to be used: for "" or "::", the dual-stack IPv6
  // wildcard, then the IPv4 wildcard for a system without IPv6; for
  // "0.0.0.0", the IPv4 wildcard alone; otherwise the one numeric IPv4 or
  // IPv6 address given (link-local with its "%interface"). Empty when
  // `given` is none of these: names are not looked up.
  static std::vector<ListenAddress> choices(const std::string& given);

  // reach says where a server listening on `listening` answers: every
  // interface for a wildcard (IPv4 only for the IPv4 one), else only the
  // interface of `interfaces` that carries the address, with its protocol.
  // Nothing when no interface carries it.
  static std::optional<Advertiser::Reach> reach(const ListenAddress& listening, const ifaddrs* interfaces);
};

}  // namespace lumenvale
