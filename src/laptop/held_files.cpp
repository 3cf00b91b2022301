#include "laptop/held_files.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "util/atomic_file.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/text.h"

namespace lumenvale::laptop {

namespace fs = std::filesystem;

std::string Naming::monthFolder(std::string_view created) {
  const auto digits = [](std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (created.size() < 7 || created[4] != '-' || !digits(created.substr(0, 4)) || !digits(created.substr(5, 2))) {
    return "undated";
  }
  const int month = (created[5] - '0') * 10 + (created[6] - '0');
  if (month < 1 || month > 12) return "undated";
  return std::string(created.substr(0, 4)) + "/" + std::string(created.substr(5, 2));
}

std::string Naming::safeName(std::string_view name) {
  const std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  // Controls and bidirectional overrides would reach the owner's file
  // manager and terminal with the name; bytes that are not UTF-8 become
  // U+FFFD, as the device writes them.
  std::string safe = Text::withoutHidden(name);
  while (!safe.empty() && (safe.front() == '.' || safe.front() == ' ')) safe.erase(0, 1);
  if (safe.size() > 200) {
    std::size_t cut = 200;
    // Back up to the start of a UTF-8 character.
    while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xc0) == 0x80) --cut;
    safe.resize(cut);
  }
  return safe.empty() ? "file" : safe;
}

std::string Naming::place(const std::string& folder, const std::string& name,
                          const std::function<bool(const std::string&)>& taken) {
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  std::string candidate = folder + "/" + name;
  for (int n = 2; taken(candidate); ++n) candidate = folder + "/" + stem + " (" + std::to_string(n) + ")" + extension;
  return candidate;
}

HeldFiles::HeldFiles(std::string dest) : dest_(std::move(dest)) {
  const std::optional<std::string> text = AtomicFile::read(stateFolder() + "/held.json");
  if (!text) return;
  const nlohmann::json stored = nlohmann::json::parse(*text, nullptr, false);
  try {
    if (!stored.is_object()) throw std::runtime_error("not an object");
    deviceId_ = stored.value("deviceId", "");
    for (const auto& [key, file] : stored.at("files").items()) {
      // A size that is not a whole number would be converted with undefined
      // behaviour when out of range; save() only ever writes whole ones.
      if (!file.at("size").is_number_integer()) throw std::runtime_error("size is not a whole number");
      HeldFile held{file.at("path"), file.at("modified"), file.at("sha256"), file.at("size"), file.at("verified")};
      places_.insert(held.path);
      files_.emplace(key, std::move(held));
    }
    for (const auto& id : stored.value("freed", nlohmann::json::array())) freed_.insert(id.get<std::string>());
  } catch (const std::exception&) {
    throw std::runtime_error(stateFolder() + "/held.json cannot be read. Move it away to copy into " + dest_ +
                             " afresh.");
  }
}

std::string HeldFiles::assign(const std::string& key, const std::string& created, const std::string& name) {
  HeldFile& file = files_[key];
  if (!file.path.empty()) return file.path;
  // A place is taken when another resource has it, or when something not
  // ours is there already: a copy folder may hold the owner's own files.
  file.path = Naming::place(Naming::monthFolder(created), Naming::safeName(name), [&](const std::string& path) {
    std::error_code ignored;
    return places_.count(path) != 0 || fs::exists(fs::path(dest_) / path, ignored);
  });
  places_.insert(file.path);
  return file.path;
}

void HeldFiles::save() const {
  nlohmann::json files = nlohmann::json::object();
  for (const auto& [key, file] : files_) {
    files[key] = {{"path", file.path},
                  {"modified", file.modified},
                  {"sha256", file.sha256},
                  {"size", file.size},
                  {"verified", file.verified}};
  }
  const nlohmann::json stored = {{"deviceId", deviceId_}, {"files", files}, {"freed", freed_}};
  if (!AtomicFile::makeDirectories(stateFolder(), 0700) ||
      !AtomicFile::write(stateFolder() + "/held.json", stored.dump(1) + "\n", 0600)) {
    throw std::runtime_error("Cannot write " + stateFolder() + "/held.json.");
  }
}

std::string HeldFiles::partialPath(const std::string& key) const {
  return stateFolder() + "/partial/" + Bytes::hex(Crypto::sha256(key)).substr(0, 32) + ".part";
}

}  // namespace lumenvale::laptop
