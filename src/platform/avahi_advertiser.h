// DNS-SD announcement through the Avahi daemon. Best effort: with no daemon
// (or no system bus) nothing is announced and nothing fails; a bus or daemon
// that appears or restarts later gets the announcement. Announces only on
// the interface and protocol the server answers on. Thread-safe: every call
// takes Avahi's poll lock; Avahi's callbacks run on its own thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "transport/advertiser.h"

struct AvahiThreadedPoll;
struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiTimeout;

namespace lumenvale {

class AvahiAdvertiser : public Advertiser {
 public:
  AvahiAdvertiser();
  ~AvahiAdvertiser() override;
  AvahiAdvertiser(const AvahiAdvertiser&) = delete;
  AvahiAdvertiser& operator=(const AvahiAdvertiser&) = delete;

  // How often a client is made again while there is no system bus.
  static constexpr int kReconnectMilliseconds = 1000;

  // Where Avahi publishes for a reach: an interface index and a protocol,
  // Avahi's values (AVAHI_IF_UNSPEC and AVAHI_PROTO_UNSPEC for every one).
  struct Scope {
    int interface;
    int protocol;
    bool operator==(const Scope&) const = default;
  };
  // scope returns it; nothing when the reach's interface no longer exists.
  static std::optional<Scope> scope(const Reach& reach);

  void advertise(const std::string& name, std::string_view type, std::uint16_t port, const std::string& txt,
                 const Reach& reach) override;
  void withdraw() override;

 private:
  static void onClient(AvahiClient* client, int state, void* self);
  static void onGroup(AvahiEntryGroup* group, int state, void* self);
  static void onReconnect(AvahiTimeout* timeout, void* self);
  // connect makes a client; without a bus it tries again later.
  void connect();
  // reconnectSoon drops the client after `milliseconds`, outside its own
  // callback, and makes a new one.
  void reconnectSoon(int milliseconds);
  void publish(AvahiClient* client);
  void renameAfterCollision();

  // All below are touched only with the poll lock held (or on its thread).
  AvahiThreadedPoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
  AvahiTimeout* reconnect_ = nullptr;
  bool wanted_ = false;
  std::string name_;
  std::string type_;
  std::string txt_;
  std::uint16_t port_ = 0;
  Reach reach_;
};

}  // namespace lumenvale
