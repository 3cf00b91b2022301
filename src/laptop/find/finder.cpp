#include "laptop/find/finder.h"

#include <net/if.h>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/strlst.h>

#include <algorithm>
#include <climits>
#include <compare>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace lumenvale::laptop {
namespace {

constexpr const char* kServiceType = "_lumenvale._tcp";

struct PollFree {
  void operator()(AvahiSimplePoll* poll) const { avahi_simple_poll_free(poll); }
};
struct ClientFree {
  void operator()(AvahiClient* client) const { avahi_client_free(client); }
};
struct BrowserFree {
  void operator()(AvahiServiceBrowser* browser) const { avahi_service_browser_free(browser); }
};

// Where a browser saw a service. One device is usually seen several times,
// once per interface and protocol, and each sighting comes and goes on its
// own.
struct Sighting {
  AvahiIfIndex interface = AVAHI_IF_UNSPEC;
  AvahiProtocol protocol = AVAHI_PROTO_UNSPEC;
  std::string name;
  std::string domain;
  auto operator<=>(const Sighting&) const = default;
};

// txtValue returns the value of `key` in a TXT record, empty when the key is
// missing or has no value. Values may hold NUL bytes, so the size Avahi
// reports is used rather than the terminator.
std::string txtValue(AvahiStringList* txt, const char* key) {
  AvahiStringList* entry = avahi_string_list_find(txt, key);
  if (entry == nullptr) return {};
  char* name = nullptr;
  char* value = nullptr;
  std::size_t size = 0;
  if (avahi_string_list_get_pair(entry, &name, &value, &size) < 0) return {};
  std::string text = value != nullptr ? std::string(value, size) : std::string();
  avahi_free(name);
  avahi_free(value);
  return text;
}

// numericAddress prints `address` for connecting to it. The same IPv6
// link-local address can exist on every interface, so it is only usable
// with the interface it was seen on attached.
std::optional<std::string> numericAddress(const AvahiAddress& address, AvahiIfIndex interface) {
  char text[AVAHI_ADDRESS_STR_MAX];
  if (avahi_address_snprint(text, sizeof text, &address) == nullptr) return std::nullopt;
  std::string numeric = text;
  const std::uint8_t* bytes = address.data.ipv6.address;
  if (address.proto == AVAHI_PROTO_INET6 && bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80 && interface >= 0) {
    char interfaceName[IF_NAMESIZE];
    if (::if_indextoname(static_cast<unsigned>(interface), interfaceName) != nullptr) {
      numeric += '%';
      numeric += interfaceName;
    }
  }
  return numeric;
}

std::string avahiError(int error) { return avahi_strerror(error); }

// One search: a client, its browser and the resolvers still waiting for an
// answer, all driven by one simple poll on the caller's thread. Avahi calls
// back only from inside run(), so nothing here needs a lock.
class Search {
 public:
  Search() {
    poll_.reset(avahi_simple_poll_new());
    if (!poll_) throw std::runtime_error("Cannot search for devices: out of memory.");
    int error = AVAHI_OK;
    // Without AVAHI_CLIENT_NO_FAIL the client fails at once when there is no
    // daemon, rather than waiting for one to appear while the user waits.
    client_.reset(avahi_client_new(avahi_simple_poll_get(poll_.get()), AvahiClientFlags(0), &Search::onClient, this,
                                   &error));
    if (!client_) {
      throw std::runtime_error("Cannot reach the Avahi daemon: " + avahiError(error) + ". Is avahi-daemon running?");
    }
    browser_.reset(avahi_service_browser_new(client_.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, kServiceType, nullptr,
                                             AvahiLookupFlags(0), &Search::onBrowse, this));
    if (!browser_) {
      throw std::runtime_error("Cannot search for devices: " + avahiError(avahi_client_errno(client_.get())) + ".");
    }
  }

  ~Search() {
    for (const auto& [resolver, sighting] : resolving_) avahi_service_resolver_free(resolver);
  }

  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;

  // run lets Avahi deliver browse and resolve events until `deadline`, and
  // throws when the daemon fails the search on the way.
  void run(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      if (failure_) throw std::runtime_error(*failure_);
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return;
      const int timeout = static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), INT_MAX));
      if (avahi_simple_poll_iterate(poll_.get(), timeout) < 0) {
        throw std::runtime_error("Searching for devices failed: Avahi's event loop stopped.");
      }
    }
  }

  std::vector<FoundDevice> found() const {
    std::vector<FoundDevice> devices;
    for (const auto& [sighting, device] : found_) devices.push_back(device);
    return devices;
  }

 private:
  static void onClient(AvahiClient* client, AvahiClientState state, void* opaque) {
    if (state != AVAHI_CLIENT_FAILURE) return;
    static_cast<Search*>(opaque)->fail("Lost the Avahi daemon during the search: " +
                                       avahiError(avahi_client_errno(client)) + ". Is avahi-daemon running?");
  }

  static void onBrowse(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                       AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                       AvahiLookupResultFlags, void* opaque) {
    auto* self = static_cast<Search*>(opaque);
    switch (event) {
      case AVAHI_BROWSER_NEW:
        self->resolve(Sighting{interface, protocol, name, domain}, type);
        break;
      case AVAHI_BROWSER_REMOVE:
        // The device said goodbye (or its announcement expired): it is no
        // longer there to connect to.
        self->forget(Sighting{interface, protocol, name, domain});
        break;
      case AVAHI_BROWSER_FAILURE:
        self->fail("Searching for devices failed: " +
                   avahiError(avahi_client_errno(avahi_service_browser_get_client(browser))) + ".");
        break;
      default:
        // ALL_FOR_NOW and CACHE_EXHAUSTED: devices on the network may still
        // answer, so the search goes on until its deadline.
        break;
    }
  }

  static void onResolve(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                        AvahiResolverEvent event, const char* name, const char*, const char*, const char* host,
                        const AvahiAddress* address, std::uint16_t port, AvahiStringList* txt,
                        AvahiLookupResultFlags, void* opaque) {
    auto* self = static_cast<Search*>(opaque);
    const auto waiting = self->resolving_.find(resolver);
    if (waiting != self->resolving_.end()) {
      if (event == AVAHI_RESOLVER_FOUND && name != nullptr && host != nullptr && address != nullptr) {
        std::optional<std::string> numeric = numericAddress(*address, interface);
        if (numeric) {
          self->found_[waiting->second] =
              FoundDevice{name, host, std::move(*numeric), port, txtValue(txt, "id"), txtValue(txt, "fp")};
        }
      }
      // A failed resolution is a device that did not answer in time or has
      // gone; it is not listed.
      self->resolving_.erase(waiting);
    }
    avahi_service_resolver_free(resolver);
  }

  void resolve(const Sighting& sighting, const char* type) {
    forget(sighting);
    // A device seen over IPv4 has an IPv4 address on that link, which is the
    // one to prefer. One seen over IPv6 may have none, so any family will do;
    // collateDevices drops its IPv6 address when IPv4 turns up elsewhere.
    const AvahiProtocol family = sighting.protocol == AVAHI_PROTO_INET ? AVAHI_PROTO_INET : AVAHI_PROTO_UNSPEC;
    AvahiServiceResolver* resolver =
        avahi_service_resolver_new(client_.get(), sighting.interface, sighting.protocol, sighting.name.c_str(), type,
                                   sighting.domain.c_str(), family, AvahiLookupFlags(0), &Search::onResolve, this);
    if (resolver == nullptr) {
      fail("Cannot look up \"" + sighting.name + "\": " + avahiError(avahi_client_errno(client_.get())) + ".");
      return;
    }
    resolving_.emplace(resolver, sighting);
  }

  void forget(const Sighting& sighting) {
    found_.erase(sighting);
    for (auto at = resolving_.begin(); at != resolving_.end();) {
      if (at->second == sighting) {
        avahi_service_resolver_free(at->first);
        at = resolving_.erase(at);
      } else {
        ++at;
      }
    }
  }

  // The first failure is the one the user hears about; run() throws it.
  void fail(std::string why) {
    if (!failure_) failure_ = std::move(why);
    avahi_simple_poll_quit(poll_.get());
  }

  // Declared in the order Avahi needs them freed in reverse: resolvers (in
  // the destructor), then the browser, the client and last the poll.
  std::unique_ptr<AvahiSimplePoll, PollFree> poll_;
  std::unique_ptr<AvahiClient, ClientFree> client_;
  std::unique_ptr<AvahiServiceBrowser, BrowserFree> browser_;
  std::map<AvahiServiceResolver*, Sighting> resolving_;
  std::map<Sighting, FoundDevice> found_;
  std::optional<std::string> failure_;
};

}  // namespace

std::vector<FoundDevice> findDevices(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  Search search;
  search.run(deadline);
  return collateDevices(search.found());
}

std::vector<FoundDevice> collateDevices(std::vector<FoundDevice> resolved) {
  // The order addresses are tried in: IPv4, IPv6, then link-local IPv6,
  // which needs its interface and often fails from a laptop's other ones.
  const auto rank = [](const std::string& address) {
    if (address.find(':') == std::string::npos) return 0;
    return address.starts_with("fe80:") ? 2 : 1;
  };
  std::map<std::tuple<std::string, std::string, std::uint16_t>, FoundDevice> devices;
  for (FoundDevice& sighting : resolved) {
    const std::string who = sighting.deviceId.empty() ? sighting.name + "\n" + sighting.host : sighting.deviceId;
    FoundDevice& device = devices[{sighting.deviceId.empty() ? "" : "id", who, sighting.port}];
    if (device.name.empty()) {
      std::vector<std::string> none;
      device = sighting;
      device.addresses = none;
    }
    if (std::find(device.addresses.begin(), device.addresses.end(), sighting.address) == device.addresses.end()) {
      device.addresses.push_back(sighting.address);
    }
  }
  std::vector<FoundDevice> listed;
  for (auto& [key, device] : devices) {
    std::sort(device.addresses.begin(), device.addresses.end(), [&rank](const std::string& a, const std::string& b) {
      return std::make_pair(rank(a), a) < std::make_pair(rank(b), b);
    });
    device.address = device.addresses.front();
    listed.push_back(std::move(device));
  }
  std::sort(listed.begin(), listed.end(), [](const FoundDevice& a, const FoundDevice& b) {
    return std::tie(a.name, a.address, a.port) < std::tie(b.name, b.address, b.port);
  });
  return listed;
}

}  // namespace lumenvale::laptop
