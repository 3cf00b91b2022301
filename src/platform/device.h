// Facts about this machine that the device side reports or needs: its name,
// hardware model, storage, and the folders where Lumenvale keeps its files.
// Each call reads the system afresh; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumenvale::Device {

// name returns the pretty host name (PRETTY_HOSTNAME of /etc/machine-info),
// else the host name, else "Lumenvale".
std::string name(const std::string& machineInfoPath = "/etc/machine-info");

// model returns the kernel's machine name (uname), for example "aarch64".
std::string model();

struct Storage {
  std::int64_t total = 0;
  std::int64_t free = 0;
};

// storage returns the capacity of the volume holding `folder` and what an
// unprivileged user may still write there; nothing when it cannot be read.
std::optional<Storage> storage(const std::string& folder);

// homeFolder returns $HOME, else the password database's home, else "/".
std::string homeFolder();

// dataFolder returns $XDG_DATA_HOME/lumenvale (default ~/.local/share).
std::string dataFolder();

// configFolder returns $XDG_CONFIG_HOME/lumenvale (default ~/.config).
std::string configFolder();

// picturesFolder returns the owner's pictures folder: `xdg-user-dir
// PICTURES` when it names one, else ~/Pictures.
std::string picturesFolder();

}  // namespace lumenvale::Device
