// How the server announces itself on the local network (DNS-SD). The server
// calls it from its listener thread; implementations are best effort and
// never fail the server.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumenvale {

class Advertiser {
 public:
  // Where the service answers, so that it is announced there and nowhere
  // else.
  struct Reach {
    bool ipv4 = true;
    bool ipv6 = true;
    std::string interface;  // the one interface's name; empty for every interface

    bool operator==(const Reach&) const = default;
  };

  virtual ~Advertiser() = default;

  // advertise announces (or re-announces, replacing the last) the service
  // instance `name` of `type` on `port`, with `txt` in DNS-SD TXT encoding,
  // on the interfaces and protocols of `reach`.
  virtual void advertise(const std::string& name, std::string_view type, std::uint16_t port, const std::string& txt,
                         const Reach& reach) = 0;

  // withdraw removes the announcement, if any.
  virtual void withdraw() = 0;
};

}  // namespace lumenvale
