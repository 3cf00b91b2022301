#include "util/addresses.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <string_view>

namespace lumenvale::Addresses {
namespace {

// Linux names: enp3s0/eno1 and eth0 are wired, wlan0/wlp2s0 Wi-Fi, bridge0 a
// bridge. Cellular modems (wwan0, rmnet*), tunnels and containers' veths are
// left out: a laptop on the same network cannot reach them.
bool isLocalNetworkName(std::string_view name) {
  static constexpr std::array<std::string_view, 4> kPrefixes = {"en", "eth", "wl", "bridge"};
  return std::any_of(kPrefixes.begin(), kPrefixes.end(),
                     [&](std::string_view prefix) { return name.starts_with(prefix); });
}

}  // namespace

std::vector<Address> fromInterfaces(const ifaddrs* first) {
  std::vector<Address> kept;
  for (const ifaddrs* entry = first; entry != nullptr; entry = entry->ifa_next) {
    if ((entry->ifa_flags & (IFF_UP | IFF_LOOPBACK)) != IFF_UP) continue;
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    if (entry->ifa_name == nullptr || !isLocalNetworkName(entry->ifa_name)) continue;
    std::array<char, NI_MAXHOST> host{};
    if (getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host.data(), host.size(), nullptr, 0, NI_NUMERICHOST) != 0) {
      continue;
    }
    std::string ip(host.data());
    if (ip.starts_with("169.254.")) continue;
    const bool seen = std::any_of(kept.begin(), kept.end(), [&](const Address& a) { return a.ip == ip; });
    if (!seen) kept.push_back({std::move(ip), entry->ifa_name});
  }
  return kept;
}

std::vector<Address> list() {
  ifaddrs* first = nullptr;
  if (getifaddrs(&first) != 0) return {};
  std::vector<Address> kept = fromInterfaces(first);
  freeifaddrs(first);
  return kept;
}

std::vector<Address> servedAt(std::vector<Address> all, const std::string& listen) {
  if (listen.empty() || listen == "::" || listen == "0.0.0.0") return all;
  std::erase_if(all, [&listen](const Address& address) { return address.ip != listen; });
  // An address of no interface the list takes (loopback, say) is still
  // where the device answers: saying "no network" would not be true.
  if (all.empty()) all.push_back({listen, ""});
  return all;
}

}  // namespace lumenvale::Addresses
