#include "platform/avahi_advertiser.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>
#include <net/if.h>

namespace lumenvale {
namespace {

// Splits a DNS-SD TXT record back into Avahi's list, keeping the order.
// Avahi's list holds a record last entry first (each add prepends, and the
// record is written from the tail), so the entries go in from the first.
AvahiStringList* toStringList(const std::string& txt) {
  AvahiStringList* list = nullptr;
  for (std::size_t at = 0; at < txt.size();) {
    const auto length = static_cast<unsigned char>(txt[at]);
    if (at + 1 + length > txt.size()) break;
    list = avahi_string_list_add_arbitrary(list, reinterpret_cast<const uint8_t*>(txt.data() + at + 1), length);
    at += 1 + length;
  }
  return list;
}

}  // namespace

AvahiAdvertiser::AvahiAdvertiser() {
  poll_ = avahi_threaded_poll_new();
  if (poll_ == nullptr) return;
  const AvahiPoll* api = avahi_threaded_poll_get(poll_);
  reconnect_ = api->timeout_new(
      api, nullptr, [](AvahiTimeout* timeout, void* self) { onReconnect(timeout, self); }, this);
  connect();
  if (avahi_threaded_poll_start(poll_) < 0) {
    if (client_ != nullptr) avahi_client_free(client_);
    client_ = nullptr;
    // Frees the timeout with it.
    avahi_threaded_poll_free(poll_);
    poll_ = nullptr;
  }
}

AvahiAdvertiser::~AvahiAdvertiser() {
  if (poll_ == nullptr) return;
  avahi_threaded_poll_stop(poll_);
  // Freeing the client frees its entry groups, which withdraws them.
  if (client_ != nullptr) avahi_client_free(client_);
  avahi_threaded_poll_free(poll_);
}

void AvahiAdvertiser::connect() {
  int error = 0;
  group_ = nullptr;
  // NO_FAIL: without a daemon the client waits for one instead of failing.
  client_ = avahi_client_new(
      avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL,
      [](AvahiClient* c, AvahiClientState s, void* self) { onClient(c, s, self); }, this, &error);
  // It does not wait for the system bus itself, which may start after this
  // program does at boot: ask again until there is one.
  if (client_ == nullptr) reconnectSoon(kReconnectMilliseconds);
}

void AvahiAdvertiser::reconnectSoon(int milliseconds) {
  if (reconnect_ == nullptr) return;
  timeval when{};
  avahi_elapse_time(&when, static_cast<unsigned>(milliseconds), 0);
  const AvahiPoll* api = avahi_threaded_poll_get(poll_);
  api->timeout_update(reconnect_, &when);
}

void AvahiAdvertiser::onReconnect(AvahiTimeout*, void* opaque) {
  auto* self = static_cast<AvahiAdvertiser*>(opaque);
  if (self->client_ != nullptr) avahi_client_free(self->client_);
  self->client_ = nullptr;
  self->connect();
}

void AvahiAdvertiser::onClient(AvahiClient* client, int state, void* opaque) {
  auto* self = static_cast<AvahiAdvertiser*>(opaque);
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      // Also after the daemon restarted: the new client has no group yet.
      self->publish(client);
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      // The host name changed or clashed: announce again once running.
      if (self->group_ != nullptr) avahi_entry_group_reset(self->group_);
      break;
    case AVAHI_CLIENT_FAILURE:
      // The daemon or the bus went away (a client with NO_FAIL fails even
      // then): a new client waits for the next one. Not freed here, inside
      // its own callback.
      self->reconnectSoon(0);
      break;
    default:
      break;
  }
}

void AvahiAdvertiser::onGroup(AvahiEntryGroup* group, int state, void* opaque) {
  auto* self = static_cast<AvahiAdvertiser*>(opaque);
  if (state == AVAHI_ENTRY_GROUP_COLLISION) {
    // Another device on the network has this name: take the next free one.
    self->renameAfterCollision();
    avahi_entry_group_reset(group);
    self->publish(avahi_entry_group_get_client(group));
  }
}

void AvahiAdvertiser::renameAfterCollision() {
  char* alternative = avahi_alternative_service_name(name_.c_str());
  if (alternative != nullptr) {
    name_ = alternative;
    avahi_free(alternative);
  }
}

std::optional<AvahiAdvertiser::Scope> AvahiAdvertiser::scope(const Reach& reach) {
  AvahiIfIndex interface = AVAHI_IF_UNSPEC;
  if (!reach.interface.empty()) {
    const unsigned index = ::if_nametoindex(reach.interface.c_str());
    if (index == 0) return std::nullopt;
    interface = static_cast<AvahiIfIndex>(index);
  }
  const AvahiProtocol protocol = reach.ipv4 && reach.ipv6 ? AVAHI_PROTO_UNSPEC
                                 : reach.ipv6             ? AVAHI_PROTO_INET6
                                                          : AVAHI_PROTO_INET;
  return Scope{interface, protocol};
}

void AvahiAdvertiser::publish(AvahiClient* client) {
  if (!wanted_ || client == nullptr || avahi_client_get_state(client) != AVAHI_CLIENT_S_RUNNING) return;
  if (group_ == nullptr) {
    group_ = avahi_entry_group_new(
        client, [](AvahiEntryGroup* g, AvahiEntryGroupState s, void* self) { onGroup(g, s, self); }, this);
    if (group_ == nullptr) return;
  }
  if (!avahi_entry_group_is_empty(group_)) return;
  const std::optional<Scope> where = scope(reach_);
  if (!where) return;  // the interface went since the server bound to it
  AvahiStringList* txt = toStringList(txt_);
  for (int tries = 0; tries < 10; ++tries) {
    const int result =
        avahi_entry_group_add_service_strlst(group_, where->interface, where->protocol, AvahiPublishFlags(0),
                                             name_.c_str(), type_.c_str(), nullptr, nullptr, port_, txt);
    if (result == AVAHI_ERR_COLLISION) {
      renameAfterCollision();
      continue;
    }
    if (result == AVAHI_OK) avahi_entry_group_commit(group_);
    break;
  }
  avahi_string_list_free(txt);
}

void AvahiAdvertiser::advertise(const std::string& name, std::string_view type, std::uint16_t port,
                                const std::string& txt, const Reach& reach) {
  if (poll_ == nullptr) return;
  avahi_threaded_poll_lock(poll_);
  wanted_ = true;
  name_ = name;
  type_ = std::string(type);
  port_ = port;
  txt_ = txt;
  reach_ = reach;
  if (group_ != nullptr) avahi_entry_group_reset(group_);
  publish(client_);
  avahi_threaded_poll_unlock(poll_);
}

void AvahiAdvertiser::withdraw() {
  if (poll_ == nullptr) return;
  avahi_threaded_poll_lock(poll_);
  wanted_ = false;
  if (group_ != nullptr) avahi_entry_group_reset(group_);
  avahi_threaded_poll_unlock(poll_);
}

}  // namespace lumenvale
