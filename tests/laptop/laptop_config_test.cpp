// Tests of what the laptop keeps about itself and its device: the laptop id
// kept for good, and the paired device read back only when every field is
// one that save() writes.
#include "laptop/laptop_config.h"

#include <gtest/gtest.h>

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
    const std::optional<PairedDevice> read = LaptopConfig(folder.path()).device();
    ASSERT_EQ(read.has_value(), port.has_value());
    if (!port) continue;
    PairedDevice expected = device;
    expected.port = *port;
    EXPECT_EQ(*read, expected);
  }
}

}  // namespace
}  // namespace lumenvale::laptop
