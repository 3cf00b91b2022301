// The device as a laptop meets it, for end-to-end tests: the real binary on
// 127.0.0.1 with its own data and photo folders, spoken to over TLS with its
// certificate pinned.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/pairing_recipe.h"
#include "support/program.h"
#include "support/tls_client.h"

namespace lumenvale {

using testing::HttpResponse;
using testing::Program;
using testing::TemporaryFolder;
using testing::TlsClient;

class DeviceTest : public ::testing::Test {
 protected:
  // start runs the device with its own data folder and waits until it
  // listens and shows a code; `extra` arguments follow the usual ones.
  void start(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> arguments = {LUMENVALE_BINARY, "--headless", "--data",   data_.path(),
                                          "--name",         "E2E Phone",  "--listen", "127.0.0.1"};
    if (std::find(extra.begin(), extra.end(), "--library") == extra.end()) {
      arguments.insert(arguments.end(), {"--library", photos_.path()});
    }
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    program_ = std::make_unique<Program>(arguments);
    fingerprint_ = program_->lineStartingWith("Fingerprint: ").value_or("");
    ASSERT_EQ(fingerprint_.size(), 64u);
    const std::optional<std::string> port = program_->lineStartingWith("Listening on port ");
    ASSERT_TRUE(port) << "the device did not listen";
    port_ = static_cast<std::uint16_t>(std::stoi(*port));
    code_ = program_->lineStartingWith("Pairing code: ").value_or("");
    ASSERT_EQ(code_.size(), 9u);
  }

  std::unique_ptr<TlsClient> connect() { return TlsClient::connect(port_, fingerprint_); }

  HttpResponse ask(TlsClient& client, const std::string& method, const std::string& target,
                   const std::string& headers = "", const std::optional<std::string>& body = std::nullopt) {
    EXPECT_TRUE(client.request(method, target, headers, body));
    std::optional<HttpResponse> response = client.response();
    EXPECT_TRUE(response) << method << " " << target << " got no answer";
    return response.value_or(HttpResponse{});
  }

  HttpResponse pair(TlsClient& client, const std::string& laptopId, const std::string& proof) {
    const nlohmann::json body = {{"laptopId", laptopId}, {"proof", proof}, {"laptopName", "Test Laptop"}};
    return ask(client, "POST", "/v1/pair", "", body.dump());
  }

  static nlohmann::json json(const HttpResponse& response) {
    return nlohmann::json::parse(response.body, nullptr, false);
  }

  // pairLaptop pairs `laptopId` with the code on screen and returns its token.
  std::string pairLaptop(TlsClient& client, const std::string& laptopId) {
    const HttpResponse paired =
        pair(client, laptopId, testing::laptopProof(testing::symbolsOf(code_), fingerprint_, laptopId));
    EXPECT_EQ(paired.status, 200) << paired.body;
    code_ = program_->lineStartingWith("Pairing code: ").value_or("");
    return json(paired).value("token", "");
  }

  TemporaryFolder data_{"e2e"};
  TemporaryFolder photos_{"e2e-photos"};
  std::unique_ptr<Program> program_;
  std::string fingerprint_;
  std::uint16_t port_ = 0;
  std::string code_;
};

}  // namespace lumenvale
