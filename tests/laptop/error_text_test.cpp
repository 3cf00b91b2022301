// What the laptop tells its user for each refusal the device can answer.
#include <gtest/gtest.h>

#include "laptop/device_connection.h"

namespace lumenvale::laptop {
namespace {

Response refusal(int status, const std::string& code, const std::string& message,
                 std::map<std::string, std::string> headers = {}) {
  Response response;
  response.status = status;
  response.headers = std::move(headers);
  response.body = nlohmann::json({{"error", code}, {"message", message}}).dump();
  return response;
}

TEST(ErrorText, SaysWhatToDo) {
  const std::vector<std::pair<Response, std::string>> cases = {
      {refusal(429, "locked", "Too many wrong codes. Wait a minute, then try again.", {{"retry-after", "42"}}),
       "Too many wrong codes. Wait a minute, then try again. Try again in 42 seconds."},
      {refusal(403, "bad_code", "That code is not the one on the phone."),
       "That code is not the one on the phone. Type the code the device shows now."},
      {refusal(401, "unauthorized", "Pair this laptop with the phone first."),
       "Pair this laptop with the phone first. This laptop is not paired with the device (any more): run "
       "`lumenvale-laptop pair HOST`."},
      {refusal(403, "delete_off", "Deleting is turned off on the phone."),
       "Deleting is turned off on the phone. Turn it on on the device: `lumenvale settings set allowDelete true`."},
      {refusal(409, "cancelled", "The delete was cancelled on the phone. Nothing was deleted."),
       "The delete was cancelled on the phone. Nothing was deleted."},
      {refusal(409, "busy", "Another delete is waiting for an answer on the phone."),
       "Another delete is waiting for an answer on the phone. Try again once that one is answered."},
  };
  for (const auto& [response, text] : cases) EXPECT_EQ(errorText(response), text);
  Response bare;
  bare.status = 502;
  bare.body = "<html>proxy error</html>";
  EXPECT_EQ(errorText(bare), "The device answered 502.");
}

}  // namespace
}  // namespace lumenvale::laptop
