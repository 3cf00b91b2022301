// Tests of what the laptop keeps about itself and its device: the laptop id
// kept for good, and the paired device read back only when every field is
// one that save() writes.
#include "laptop/laptop_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/program.h"
#include "util/atomic_file.h"

namespace lumenvale::laptop {
namespace {

using nlohmann::json;

TEST(LaptopConfig, KeepsItsIdAndReplacesAnyOtherValue) {
  const std::string kept(32, 'a');
  const std::vector<std::tuple<std::string, std::string, bool>> cases = {
      {"an id of 32 characters", R"({"id": ")" + kept + R"("})", true},
      {"a short id", R"({"id": "abc"})", false},
      {"an id that is a number", R"({"id": 5})", false},
      {"an id inside an object", R"({"id": {"id": ")" + kept + R"("}})", false},
      {"not JSON", "{", false},
  };
  for (const auto& [name, text, keeps] : cases) {
    SCOPED_TRACE(name);
    testing::TemporaryFolder folder("laptop-config");
    ASSERT_TRUE(AtomicFile::write(folder.path() + "/laptop.json", text));
    const std::string id = LaptopConfig(folder.path()).laptopId();
    EXPECT_EQ(id.size(), 32u);
    EXPECT_EQ(id == kept, keeps);
    EXPECT_EQ(LaptopConfig(folder.path()).laptopId(), id);
  }
}

TEST(LaptopConfig, ReadsADeviceOnlyWithAPortSaveCouldHaveWritten) {
  const PairedDevice device{"127.0.0.1", 41820, std::string(64, 'c'), "token", "device-1", "Home Server"};
  const auto withPort = [&](const json& port) {
    return json({{"host", device.host}, {"port", port}, {"fingerprint", device.fingerprint}, {"token", device.token},
                 {"deviceId", device.deviceId}, {"name", device.name}})
        .dump();
  };
  const std::vector<std::tuple<std::string, std::string, std::optional<std::uint16_t>>> cases = {
      {"the port saved", withPort(41820), 41820},
      {"the highest port", withPort(65535), 65535},
      {"one past the highest port", withPort(65536), std::nullopt},
      {"a negative port", withPort(-1), std::nullopt},
      {"a port with a fraction", withPort(41820.5), std::nullopt},
      {"a port far out of range", withPort(1e10), std::nullopt},
      {"a port as text", withPort("41820"), std::nullopt},
  };
  for (const auto& [name, text, port] : cases) {
    SCOPED_TRACE(name);
    testing::TemporaryFolder folder("laptop-device");
    ASSERT_TRUE(AtomicFile::write(folder.path() + "/device.json", text));
    const std::vector<PairedDevice> read = LaptopConfig(folder.path()).devices();
    ASSERT_EQ(read.size(), port ? 1u : 0u);
    if (!port) continue;
    PairedDevice expected = device;
    expected.port = *port;
    EXPECT_EQ(read.front(), expected);
  }
}

// A phone and a tablet: each kept apart, paired again in place, forgotten
// alone, and the one a command means picked by name, by the start of its
// id, by the copy folder's record, or as the only one.
TEST(LaptopConfig, KeepsSeveralDevicesAndPicksTheOneMeant) {
  testing::TemporaryFolder folder("laptop-devices");
  const PairedDevice phone{"192.168.1.20", 41820, std::string(64, 'a'), "token-1", "aaaa1111", "Phone"};
  const PairedDevice tablet{"192.168.1.30", 41820, std::string(64, 'b'), "token-2", "bbbb2222", "Tablet"};
  // What a laptop that paired with one device before kept is read, and
  // goes once the devices are saved.
  ASSERT_TRUE(AtomicFile::write(folder.path() + "/device.json",
                                json({{"host", phone.host}, {"port", phone.port}, {"fingerprint", phone.fingerprint},
                                      {"token", phone.token}, {"deviceId", phone.deviceId}, {"name", phone.name}})
                                    .dump()));
  LaptopConfig config(folder.path());
  EXPECT_EQ(config.devices(), std::vector<PairedDevice>{phone});
  EXPECT_EQ(config.pick("", ""), phone);
  EXPECT_EQ(config.save(tablet), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(folder.path() + "/device.json"));
  PairedDevice moved = phone;
  moved.host = "192.168.1.21";
  moved.token = "token-3";
  EXPECT_EQ(config.save(moved), phone);
  EXPECT_EQ(config.devices(), (std::vector<PairedDevice>{moved, tablet}));

  const std::vector<std::tuple<std::string, std::string, std::string, std::string>> picks = {
      // wanted, the copy's device, picked, or what the refusal says
      {"Tablet", "", "Tablet", ""},
      {"bbbb", "", "Tablet", ""},
      {"aaaa1111", "bbbb2222", "Phone", ""},
      {"", "bbbb2222", "Tablet", ""},
      {"", "", "", "paired with 2 devices: say which with --device NAME (Phone (aaaa1111), Tablet (bbbb2222))"},
      {"Laptop", "", "", "No paired device is called \"Laptop\""},
      {"aa", "", "", "No paired device is called \"aa\""},
      {"", "cccc3333", "", "a device this laptop is not paired with (any more): cccc3333"},
  };
  for (const auto& [wanted, copyOf, picked, said] : picks) {
    SCOPED_TRACE(wanted + " / " + copyOf);
    if (!picked.empty()) {
      EXPECT_EQ(config.pick(wanted, copyOf).name, picked);
      continue;
    }
    try {
      config.pick(wanted, copyOf);
      ADD_FAILURE() << "picked a device";
    } catch (const std::runtime_error& refusal) {
      EXPECT_NE(std::string(refusal.what()).find(said), std::string::npos) << refusal.what();
    }
  }
  EXPECT_TRUE(config.forget("aaaa1111"));
  EXPECT_FALSE(config.forget("aaaa1111"));
  EXPECT_EQ(LaptopConfig(folder.path()).devices(), std::vector<PairedDevice>{tablet});
}

}  // namespace
}  // namespace lumenvale::laptop
