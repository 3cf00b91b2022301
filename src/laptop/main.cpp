// lumenvale-laptop: the laptop side. Pairs with a device, copies its
// library, reports what it holds safely, and asks the device to free space.
#include <string>
#include <vector>

#include "laptop/commands.h"

int main(int argc, char** argv) { return lumenvale::laptop::run(std::vector<std::string>(argv + 1, argv + argc)); }
