// The device as a laptop on the network finds it: the real binary announces
// itself through avahi-daemon, and avahi-browse resolves the announcement.
// Each case has its own D-Bus system bus and avahi-daemon (or uses those
// already running), on the loopback interface only.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/avahi_daemon.h"
#include "support/command.h"
#include "support/program.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;
using testing::AvahiDaemon;
using testing::Program;
using testing::TemporaryFolder;

constexpr const char* kAvahiBrowse = "/usr/bin/avahi-browse";
constexpr const char* kServiceType = "_lumenvale._tcp";

// One resolved line of `avahi-browse --parsable`.
struct Resolved {
  std::string interface;
  std::string name;
  std::string port;
  // The TXT strings in the order avahi-browse lists them, which is the
  // reverse of their order in the record: avahi-browse prints Avahi's string
  // list, which holds a record last entry first.
  std::vector<std::string> txt;
};

// unescape undoes avahi-browse's escaping of a name: `\032` is the byte of
// that decimal value, `\x` is x.
std::string unescape(const std::string& text) {
  std::string plain;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '\\' || at + 1 == text.size()) {
      plain += text[at];
    } else if (at + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[at + 1]))) {
      plain += static_cast<char>(std::stoi(text.substr(at + 1, 3)));
      at += 3;
    } else {
      plain += text[++at];
    }
  }
  return plain;
}

// txtStrings splits avahi-browse's TXT field, `"v=1" "id=..."`, into its
// strings.
std::vector<std::string> txtStrings(const std::string& field) {
  std::vector<std::string> strings;
  std::optional<std::string> open;
  for (std::size_t at = 0; at < field.size(); ++at) {
    const char c = field[at];
    if (!open) {
      if (c == '"') open.emplace();
    } else if (c == '\\' && at + 1 < field.size()) {
      *open += field[++at];
    } else if (c == '"') {
      strings.push_back(*open);
      open.reset();
    } else {
      *open += c;
    }
  }
  return strings;
}

// parseResolved reads a line `=;if;proto;name;type;domain;host;address;port;txt`.
std::optional<Resolved> parseResolved(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  // The TXT field comes last and may itself hold ';'.
  while (fields.size() < 9) {
    const std::size_t semicolon = line.find(';', from);
    if (semicolon == std::string::npos) return std::nullopt;
    fields.push_back(line.substr(from, semicolon - from));
    from = semicolon + 1;
  }
  if (fields[0] != "=") return std::nullopt;
  return Resolved{fields[1], unescape(fields[3]), fields[8], txtStrings(line.substr(from))};
}

// browse resolves every announcement of the service once; `seen` receives
// avahi-browse's output.
std::vector<Resolved> browse(std::string& seen) {
  seen = testing::runCommand({kAvahiBrowse, "--resolve", "--parsable", "--terminate", kServiceType}, 5s).output;
  std::vector<Resolved> found;
  std::size_t from = 0;
  while (from < seen.size()) {
    std::size_t end = seen.find('\n', from);
    if (end == std::string::npos) end = seen.size();
    if (std::optional<Resolved> resolved = parseResolved(seen.substr(from, end - from))) found.push_back(*resolved);
    from = end + 1;
  }
  return found;
}

// findOnLoopback browses for the service until `name` resolves on `lo`, or
// gives up after `timeout`. `seen` receives avahi-browse's last output.
std::optional<Resolved> findOnLoopback(const std::string& name, std::chrono::milliseconds timeout, std::string& seen) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    for (const Resolved& resolved : browse(seen)) {
      if (resolved.interface == "lo" && resolved.name == name) return resolved;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(200ms);
  }
}

std::string readFile(const std::string& path) {
  std::ifstream file(path);
  std::string text;
  std::getline(file, text);
  return text;
}

class DnssdTest : public ::testing::Test {
 protected:
  // startDevice runs the binary with a name no other run uses, so an
  // announcement left in a daemon's cache cannot pass for this one.
  void startDevice() {
    name_ = "Lumenvale E2E " + std::to_string(::getpid()) + "-" + std::to_string(std::time(nullptr) % 100000);
    device_ = std::make_unique<Program>(std::vector<std::string>{LUMENVALE_BINARY, "--headless", "--data", data_.path(),
                                                                 "--name", name_, "--listen", "127.0.0.1"});
    fingerprint_ = device_->lineStartingWith("Fingerprint: ").value_or("");
    ASSERT_EQ(fingerprint_.size(), 64u);
    const std::optional<std::string> port = device_->lineStartingWith("Listening on port ");
    ASSERT_TRUE(port) << "the device did not listen";
    port_ = *port;
  }

  // expectAnnounced checks what a laptop browsing on loopback resolves.
  void expectAnnounced(std::chrono::milliseconds timeout = 20s) {
    std::string seen;
    const std::optional<Resolved> found = findOnLoopback(name_, timeout, seen);
    ASSERT_TRUE(found) << "\"" << name_ << "\" did not resolve on lo; avahi-browse said:\n" << seen;
    EXPECT_EQ(found->port, port_);
    const std::string deviceId = readFile(data_.path() + "/keychain/device-id");
    ASSERT_FALSE(deviceId.empty());
    const std::vector<std::string> record(found->txt.rbegin(), found->txt.rend());
    EXPECT_EQ(record,
              (std::vector<std::string>{"v=1", "id=" + deviceId, "fp=" + fingerprint_.substr(0, 16), "os=ios"}));
  }

  // Declared first so it goes last, after the device has stopped.
  AvahiDaemon avahi_;
  TemporaryFolder data_{"dnssd"};
  std::unique_ptr<Program> device_;
  std::string name_;
  std::string fingerprint_;
  std::string port_;
};

TEST_F(DnssdTest, AnnouncesNamePortAndRecord) {
  ASSERT_TRUE(avahi_.start()) << avahi_.failure();
  startDevice();
  if (HasFatalFailure()) return;
  expectAnnounced();
}

TEST_F(DnssdTest, ListensWithoutAvahiAndAnnouncesOnceItStarts) {
  ASSERT_TRUE(avahi_.startBus()) << avahi_.failure();
  if (AvahiDaemon::running()) GTEST_SKIP() << "an avahi-daemon this test did not start is running";
  startDevice();
  if (HasFatalFailure()) return;
  ASSERT_TRUE(avahi_.start()) << avahi_.failure();
  expectAnnounced();
}

TEST_F(DnssdTest, AnnouncesOnceTheSystemBusAndAvahiStartAfterIt) {
  if (AvahiDaemon::busAnswers()) GTEST_SKIP() << "a system bus this test did not start is running";
  startDevice();
  if (HasFatalFailure()) return;
  // Early in boot: no bus yet for a while after the device started.
  std::this_thread::sleep_for(1500ms);
  ASSERT_TRUE(avahi_.start()) << avahi_.failure();
  expectAnnounced(8s);
}

TEST_F(DnssdTest, AnnouncesAgainAfterAvahiRestarts) {
  ASSERT_TRUE(avahi_.startBus()) << avahi_.failure();
  if (AvahiDaemon::running()) GTEST_SKIP() << "an avahi-daemon this test did not start is running";
  ASSERT_TRUE(avahi_.start()) << avahi_.failure();
  startDevice();
  if (HasFatalFailure()) return;
  expectAnnounced();
  if (HasFailure()) return;
  ASSERT_TRUE(avahi_.stop()) << avahi_.failure();
  ASSERT_TRUE(avahi_.start()) << avahi_.failure();
  expectAnnounced(8s);
}

}  // namespace
}  // namespace lumenvale
