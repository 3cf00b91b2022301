#include "transport/listen_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>

namespace lumenvale {
namespace {

ListenAddress ipv4(const in_addr& ip) {
  ListenAddress listening;
  auto& address = reinterpret_cast<sockaddr_in&>(listening.address);
  address.sin_family = AF_INET;
  address.sin_addr = ip;
  listening.length = sizeof(sockaddr_in);
  return listening;
}

ListenAddress ipv6(const in6_addr& ip, std::uint32_t scope) {
  ListenAddress listening;
  auto& address = reinterpret_cast<sockaddr_in6&>(listening.address);
  address.sin6_family = AF_INET6;
  address.sin6_addr = ip;
  address.sin6_scope_id = scope;
  listening.length = sizeof(sockaddr_in6);
  return listening;
}

// The interface index of a "%scope" suffix: a name or a number; 0 when it
// is neither.
std::uint32_t scopeIndex(const std::string& scope) {
  if (scope.empty()) return 0;
  if (const unsigned index = ::if_nametoindex(scope.c_str()); index != 0) return index;
  if (scope.find_first_not_of("0123456789") != std::string::npos || scope.size() > 9) return 0;
  return static_cast<std::uint32_t>(std::stoul(scope));
}

}  // namespace

bool ListenAddress::wildcard() const {
  if (family() == AF_INET) {
    return reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr == htonl(INADDR_ANY);
  }
  return family() == AF_INET6 && IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
}

std::string ListenAddress::text() const {
  char text[INET6_ADDRSTRLEN] = {};
  if (family() == AF_INET) {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
    return text;
  }
  const auto& ip6 = reinterpret_cast<const sockaddr_in6&>(address);
  ::inet_ntop(AF_INET6, &ip6.sin6_addr, text, sizeof text);
  std::string written = text;
  if (ip6.sin6_scope_id != 0) {
    char name[IF_NAMESIZE] = {};
    written += "%";
    written +=
        ::if_indextoname(ip6.sin6_scope_id, name) != nullptr ? std::string(name) : std::to_string(ip6.sin6_scope_id);
  }
  return written;
}

std::vector<ListenAddress> ListenAddress::choices(const std::string& given) {
  if (given.empty() || given == "::") {
    ListenAddress both = ipv6(in6addr_any, 0);
    both.dualStack = true;
    return {both, ipv4(in_addr{htonl(INADDR_ANY)})};
  }
  in_addr ip4{};
  if (::inet_pton(AF_INET, given.c_str(), &ip4) == 1) return {ipv4(ip4)};
  // A link-local address means nothing without its interface: fe80::1%wlan0.
  const std::size_t percent = given.find('%');
  const std::string bare = given.substr(0, percent);
  in6_addr ip6{};
  if (::inet_pton(AF_INET6, bare.c_str(), &ip6) != 1) return {};
  std::uint32_t scope = 0;
  if (percent != std::string::npos) {
    scope = scopeIndex(given.substr(percent + 1));
    if (scope == 0) return {};
  }
  return {ipv6(ip6, scope)};
}

std::optional<Advertiser::Reach> ListenAddress::reach(const ListenAddress& listening, const ifaddrs* interfaces) {
  if (listening.wildcard()) {
    return Advertiser::Reach{listening.family() == AF_INET || listening.dualStack, listening.family() == AF_INET6, ""};
  }
  for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_name == nullptr || entry->ifa_addr->sa_family != listening.family()) {
      continue;
    }
    bool same = false;
    if (listening.family() == AF_INET) {
      same = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr ==
             reinterpret_cast<const sockaddr_in&>(listening.address).sin_addr.s_addr;
    } else {
      const auto* held = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      const auto& wanted = reinterpret_cast<const sockaddr_in6&>(listening.address);
      // The same link-local address may sit on two links; the scope tells which.
      same = std::memcmp(&held->sin6_addr, &wanted.sin6_addr, sizeof wanted.sin6_addr) == 0 &&
             (wanted.sin6_scope_id == 0 || held->sin6_scope_id == 0 || held->sin6_scope_id == wanted.sin6_scope_id);
    }
    if (same) return Advertiser::Reach{listening.family() == AF_INET, listening.family() == AF_INET6, entry->ifa_name};
  }
  return std::nullopt;
}

}  // namespace lumenvale
