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
  virtual ~Advertiser() = default;

  // advertise announces (or re-announces, replacing the last) the service
  // instance `name` of `type` on `port`, with `txt` in DNS-SD TXT encoding.
  virtual void advertise(const std::string& name, std::string_view type, std::uint16_t port,
                         const std::string& txt) = 0;

  // withdraw removes the announcement, if any.
  virtual void withdraw() = 0;
};

}  // namespace lumenvale
