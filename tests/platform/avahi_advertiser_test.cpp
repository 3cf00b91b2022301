#include "platform/avahi_advertiser.h"

#include <avahi-common/address.h>
#include <net/if.h>

#include <gtest/gtest.h>

namespace lumenvale {
namespace {

TEST(AvahiAdvertiser, PublishesOnTheInterfaceAndProtocolItAnswersOn) {
  using Reach = Advertiser::Reach;
  using Scope = AvahiAdvertiser::Scope;
  const int loopback = static_cast<int>(::if_nametoindex("lo"));
  ASSERT_GT(loopback, 0);
  struct Case {
    Reach reach;
    std::optional<Scope> scope;
  };
  const std::vector<Case> cases = {
      {{true, true, ""}, Scope{AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC}},
      {{true, false, ""}, Scope{AVAHI_IF_UNSPEC, AVAHI_PROTO_INET}},
      {{true, false, "lo"}, Scope{loopback, AVAHI_PROTO_INET}},
      {{false, true, "lo"}, Scope{loopback, AVAHI_PROTO_INET6}},
      {{true, false, "no-such-if0"}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reach.interface + (c.reach.ipv4 ? " IPv4" : "") + (c.reach.ipv6 ? " IPv6" : ""));
    EXPECT_EQ(AvahiAdvertiser::scope(c.reach), c.scope);
  }
}

}  // namespace
}  // namespace lumenvale
