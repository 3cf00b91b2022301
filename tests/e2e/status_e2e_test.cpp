// The terminal front end's Status lines while a laptop copies a file: sending
// with its figures, connected 3 seconds after the stream, and waiting with
// the code 30 seconds after the last request.
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "e2e/device_fixture.h"
#include "util/atomic_file.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;

TEST_F(DeviceTest, StatusFollowsALaptopThatCopies) {
  std::string noise(8 * 1048576, '\0');
  std::mt19937 random(5);
  for (char& c : noise) c = static_cast<char>(random());
  ASSERT_TRUE(AtomicFile::write(photos_.path() + "/IMG_0001.JPG", noise, 0644));
  ASSERT_NO_FATAL_FAILURE(start());
  auto client = connect();
  ASSERT_TRUE(client);
  const std::string token = pairLaptop(*client, "status-laptop");
  ASSERT_EQ(program_->printed("Library: ", 60s), "1 photo or video");
  const std::string bearer = "Authorization: Bearer " + token + "\r\n";
  // The laptop counts as seen from its first request on; later ones within
  // a second do not move that time.
  const auto before = std::chrono::steady_clock::now();
  const nlohmann::json page = json(ask(*client, "GET", "/v1/assets", bearer));
  ASSERT_EQ(page["assets"].size(), 1u);
  const std::string id = page["assets"][0]["id"];

  const HttpResponse file = ask(*client, "GET", "/v1/assets/" + id + "/res/photo", bearer);
  ASSERT_EQ(file.status, 200);
  ASSERT_EQ(file.body.size(), noise.size());

  // Printed as the stream starts; new figures follow at most every 5 s, so
  // a file this quick is over before they would.
  const std::optional<std::string> sending = program_->lineStartingWith("Status: sending to Test Laptop: ", 10s);
  ASSERT_TRUE(sending);
  EXPECT_TRUE(std::regex_match(*sending, std::regex(R"([0-9,]+ files?, [0-9.]+ [kMG]?B, [0-9.]+ [kMG]?B/s)")))
      << *sending;

  ASSERT_TRUE(program_->lineStartingWith("Status: connected to Test Laptop", 10s));
  EXPECT_GE(std::chrono::steady_clock::now() - before, 3s);
  const std::optional<std::string> waiting =
      program_->lineStartingWith("Status: waiting for a laptop; pairing code ", 40s);
  ASSERT_TRUE(waiting);
  EXPECT_EQ(*waiting, code_);
  // The device times with the wall clock, this test with the steady one;
  // on a virtual machine the two drift apart by a little, so a second is
  // allowed. The rule checked is 30 s, far from the 3 s and 5 s ones.
  EXPECT_GE(std::chrono::steady_clock::now() - before, 29s);
  EXPECT_EQ(program_->stop(SIGTERM), 0);
}

}  // namespace
}  // namespace lumenvale
