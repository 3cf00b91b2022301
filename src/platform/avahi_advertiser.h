// DNS-SD announcement through the Avahi daemon. Best effort: with no daemon
// (or no system bus) nothing is announced and nothing fails; a daemon that
// appears or restarts later gets the announcement. Thread-safe: every call
// takes Avahi's poll lock; Avahi's callbacks run on its own thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "transport/advertiser.h"

struct AvahiThreadedPoll;
struct AvahiClient;
struct AvahiEntryGroup;

namespace lumenvale {

class AvahiAdvertiser : public Advertiser {
 public:
  AvahiAdvertiser();
  ~AvahiAdvertiser() override;
  AvahiAdvertiser(const AvahiAdvertiser&) = delete;
  AvahiAdvertiser& operator=(const AvahiAdvertiser&) = delete;

  void advertise(const std::string& name, std::string_view type, std::uint16_t port,
                 const std::string& txt) override;
  void withdraw() override;

 private:
  static void onClient(AvahiClient* client, int state, void* self);
  static void onGroup(AvahiEntryGroup* group, int state, void* self);
  void connect();
  void publish(AvahiClient* client);
  void renameAfterCollision();

  // All below are touched only with the poll lock held (or on its thread).
  AvahiThreadedPoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
  bool wanted_ = false;
  std::string name_;
  std::string type_;
  std::string txt_;
  std::uint16_t port_ = 0;
};

}  // namespace lumenvale
