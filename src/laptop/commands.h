// The commands of lumenvale-laptop, each returning the process exit status:
// 0 done, 1 failed (said on standard error), 2 the command line was wrong.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lumenvale::laptop {

// run reads the command line (without the program name) and runs it.
int run(const std::vector<std::string>& arguments);

}  // namespace lumenvale::laptop
