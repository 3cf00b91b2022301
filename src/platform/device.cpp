#include "platform/device.h"

#include <pwd.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <cstdlib>

#include "util/atomic_file.h"
#include "util/text.h"

namespace lumenvale::Device {
namespace {

// The value of KEY=VALUE in a shell-style file, quotes removed.
std::optional<std::string> shellValue(const std::string& content, std::string_view key) {
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string_view line(content.data() + start, end - start);
    start = end + 1;
    if (!line.starts_with(key) || line.size() <= key.size() || line[key.size()] != '=') continue;
    std::string_view value = line.substr(key.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
  }
  return std::nullopt;
}

// Replaces bytes that are not UTF-8 with U+FFFD, so names always encode.
std::string repairUtf8(std::string_view text) {
  if (Text::isValidUtf8(text)) return std::string(text);
  std::string out;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x80) {
      out.push_back(c);
    } else {
      out += "\xEF\xBF\xBD";
    }
  }
  return out;
}

}  // namespace

std::string name(const std::string& machineInfoPath) {
  if (const std::optional<std::string> info = AtomicFile::read(machineInfoPath)) {
    if (std::optional<std::string> pretty = shellValue(*info, "PRETTY_HOSTNAME"); pretty && !pretty->empty()) {
      return repairUtf8(*pretty);
    }
  }
  std::array<char, 256> host{};
  if (::gethostname(host.data(), host.size() - 1) == 0 && host[0] != '\0') return repairUtf8(host.data());
  return "Lumenvale";
}

std::string model() {
  utsname system{};
  if (::uname(&system) != 0) return {};
  return repairUtf8(system.machine);
}

std::optional<Storage> storage(const std::string& folder) {
  struct statvfs volume {};
  if (::statvfs(folder.c_str(), &volume) != 0) return std::nullopt;
  return Storage{static_cast<std::int64_t>(volume.f_blocks) * static_cast<std::int64_t>(volume.f_frsize),
                 static_cast<std::int64_t>(volume.f_bavail) * static_cast<std::int64_t>(volume.f_frsize)};
}

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
  if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) return user->pw_dir;
  return "/";
}

std::string dataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const std::string base = (xdg != nullptr && xdg[0] == '/') ? xdg : homeFolder() + "/.local/share";
  return base + "/lumenvale";
}

namespace {

std::string xdgConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  return (xdg != nullptr && xdg[0] == '/') ? xdg : homeFolder() + "/.config";
}

}  // namespace

std::string configFolder() { return xdgConfigHome() + "/lumenvale"; }

std::string picturesFolder() {
  // The user-dirs file is what xdg-user-dir itself reads; reading it here
  // avoids running a program at start-up.
  const std::string home = homeFolder();
  const std::string config = xdgConfigHome();
  if (const std::optional<std::string> dirs = AtomicFile::read(config + "/user-dirs.dirs")) {
    if (std::optional<std::string> pictures = shellValue(*dirs, "XDG_PICTURES_DIR")) {
      if (pictures->starts_with("$HOME")) pictures->replace(0, 5, home);
      // A value equal to the home folder means the folder is not set.
      if (pictures->starts_with('/') && *pictures != home && *pictures != home + "/") return *pictures;
    }
  }
  return home + "/Pictures";
}

}  // namespace lumenvale::Device
