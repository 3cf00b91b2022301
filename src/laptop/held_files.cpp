#include "laptop/held_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "util/atomic_file.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/format.h"
#include "util/text.h"

namespace lumenvale::laptop {

namespace fs = std::filesystem;

namespace {

std::int64_t nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

nlohmann::json stampJson(const std::optional<Stamp>& stamp) {
  if (!stamp) return nullptr;
  return {{"size", stamp->size}, {"modifiedNs", stamp->modifiedNs}, {"changedNs", stamp->changedNs}, {"inode", stamp->inode}};
}

std::optional<Stamp> stampFrom(const nlohmann::json& stored) {
  if (!stored.is_object()) return std::nullopt;
  for (const char* key : {"size", "modifiedNs", "changedNs", "inode"}) {
    if (!stored.contains(key) || !stored[key].is_number_integer()) return std::nullopt;
  }
  return Stamp{stored["size"], stored["modifiedNs"], stored["changedNs"], stored["inode"]};
}

}  // namespace

std::optional<Stamp> stampOf(const std::string& path) {
  struct stat about {};
  if (::lstat(path.c_str(), &about) != 0 || !S_ISREG(about.st_mode)) return std::nullopt;
  return Stamp{static_cast<std::int64_t>(about.st_size), nanoseconds(about.st_mtim), nanoseconds(about.st_ctim),
               static_cast<std::uint64_t>(about.st_ino)};
}

std::optional<std::string> hashFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat about {};
  if (::fstat(fd, &about) != 0 || !S_ISREG(about.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  Crypto::Sha256 digest;
  std::vector<char> buffer(1 << 20);
  ssize_t got = 0;
  while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) digest.update(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
  ::close(fd);
  if (got < 0) return std::nullopt;
  return Bytes::hex(digest.finish());
}

bool sameVersion(const std::string& a, const std::string& b) {
  if (a == b) return true;
  const std::optional<Format::TimePoint> first = Format::parseIso8601(a);
  const std::optional<Format::TimePoint> second = Format::parseIso8601(b);
  return first && second && *first == *second;
}

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
      HeldFile held{file.at("path"), file.at("modified"), file.at("sha256"), file.at("size"), file.at("verified"),
                    stampFrom(file.value("stamp", nlohmann::json()))};
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

std::string HeldFiles::naturalPlace(const std::string& created, const std::string& name) {
  return Naming::monthFolder(created) + "/" + Naming::safeName(name);
}

void HeldFiles::adopt(const std::string& key, const std::string& path, const std::optional<std::string>& from) {
  HeldFile record;
  if (from) {
    record = files_.at(*from);
    files_.erase(*from);
  }
  HeldFile& file = files_[key];
  if (!file.path.empty() && file.path != path) places_.erase(file.path);
  record.path = path;
  file = std::move(record);
  places_.insert(path);
}

std::optional<std::string> HeldFiles::holderOf(const std::string& path) const {
  for (const auto& [key, file] : files_) {
    if (file.path == path) return key;
  }
  return std::nullopt;
}

HeldFiles::Examined HeldFiles::examine(const std::string& dest, const HeldFile& file, Look look) {
  const std::string where = dest + "/" + file.path;
  const std::optional<Stamp> now = stampOf(where);
  if (!now) return {CopyState::kMissing, std::nullopt};
  if (now->size != file.size) return {CopyState::kChanged, std::nullopt};
  if (look == Look::kStamp && file.stamp == now) return {CopyState::kIntact, now};
  const std::optional<std::string> hash = hashFile(where);
  if (!hash) return {CopyState::kMissing, std::nullopt};
  if (*hash != file.sha256) return {CopyState::kChanged, std::nullopt};
  // Stamped before the read: a change while it was read leaves a stamp
  // that differs next time, and the file is read again then.
  return {CopyState::kIntact, now};
}

CopyState HeldFiles::check(const std::string& key, Look look) {
  HeldFile& file = files_.at(key);
  const Examined found = examine(dest_, file, look);
  if (found.state == CopyState::kIntact) file.stamp = found.stamp;
  return found.state;
}

void HeldFiles::save() const {
  nlohmann::json files = nlohmann::json::object();
  for (const auto& [key, file] : files_) {
    files[key] = {{"path", file.path},
                  {"modified", file.modified},
                  {"sha256", file.sha256},
                  {"size", file.size},
                  {"verified", file.verified},
                  {"stamp", stampJson(file.stamp)}};
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
