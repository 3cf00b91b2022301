#include "laptop/puller.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "laptop/device_connection.h"
#include "util/atomic_file.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/format.h"
#include "util/text.h"

namespace lumenvale::laptop {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

struct Job {
  std::string key;
  std::string asset;
  std::string rid;
  std::string path;      // relative to DEST
  std::string modified;  // the asset's version now
};

double since(Steady::time_point start) { return std::chrono::duration<double>(Steady::now() - start).count(); }

// hashFile returns the SHA-256 of a whole file read in pieces, or nothing.
std::optional<std::string> hashFile(const fs::path& path, Crypto::Sha256* into = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Crypto::Sha256 local;
  Crypto::Sha256& digest = into ? *into : local;
  std::vector<char> buffer(1 << 20);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    digest.update(std::string_view(buffer.data(), static_cast<std::size_t>(in.gcount())));
  }
  if (in.bad()) return std::nullopt;
  return into ? std::string() : Bytes::hex(local.finish());
}

// The shared state of one run: the jobs left, the copy's record, counters.
class Run {
 public:
  Run(const PairedDevice& device, HeldFiles& held, const PullOptions& options, std::deque<Job> jobs)
      : device_(device), held_(held), options_(options), jobs_(std::move(jobs)), total_(static_cast<std::int64_t>(jobs_.size())) {}

  PullReport go() {
    const int workers = std::max(1, std::min<int>(options_.parallel, static_cast<int>(jobs_.size())));
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) threads.emplace_back([this] { work(); });
    for (std::thread& thread : threads) thread.join();
    std::lock_guard hold(mutex_);
    held_.save();
    report_.seconds = since(started_);
    drawProgress(true);
    return report_;
  }

 private:
  void work() {
    DeviceConnection connection(device_.host, device_.port, device_.fingerprint, device_.token);
    for (;;) {
      Job job;
      {
        std::lock_guard hold(mutex_);
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      std::string problem;
      try {
        problem = copy(connection, job);
      } catch (const std::exception& failure) {
        problem = failure.what();
      }
      finish(job, problem);
    }
  }

  // copy brings one resource into the copy folder; returns what went wrong,
  // or "" once it is held.
  std::string copy(DeviceConnection& connection, const Job& job) {
    const fs::path dest(held_.dest());
    const fs::path final = dest / job.path;
    const std::string base = "/v1/assets/" + job.asset + "/res/" + job.rid;
    std::error_code error;
    // Already there from a run stopped before it could write its record
    // down, or an older version: the device's checksum decides.
    if (fs::exists(final, error)) {
      const std::optional<std::string> device = deviceHash(connection, base);
      if (!device) return "the device cannot give its checksum";
      const std::optional<std::string> local = hashFile(final);
      if (local && *local == *device) {
        held(job, *local, static_cast<std::int64_t>(fs::file_size(final, error)));
        return "";
      }
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
      const std::string problem = download(connection, job, base, final);
      if (problem != "again") return problem;
    }
    return "the file kept changing on the device";
  }

  std::optional<std::string> deviceHash(DeviceConnection& connection, const std::string& base) {
    const Response answer = connection.get(base + "/sha256");
    if (answer.status != 200) return std::nullopt;
    const nlohmann::json body = answer.json();
    if (!body.is_object() || !body.contains("sha256") || !body["sha256"].is_string()) return std::nullopt;
    return body["sha256"].get<std::string>();
  }

  // download fetches into the partial file, resuming it when its ETag is
  // still the device's; "again" asks for one more try from the start.
  std::string download(DeviceConnection& connection, const Job& job, const std::string& base, const fs::path& final) {
    const fs::path partial = held_.partialPath(job.key);
    const fs::path tagFile = partial.string() + ".etag";
    std::error_code error;
    fs::create_directories(partial.parent_path(), error);
    const std::optional<std::string> startedUnder = AtomicFile::read(tagFile);
    std::int64_t from = 0;
    if (startedUnder && fs::exists(partial, error)) from = static_cast<std::int64_t>(fs::file_size(partial, error));
    if (error) from = 0;

    auto digest = std::make_unique<Crypto::Sha256>();
    if (from > 0 && !hashFile(partial, digest.get())) from = 0;
    std::FILE* out = std::fopen(partial.c_str(), from > 0 ? "ab" : "wb");
    if (out == nullptr) return "cannot write " + partial.string();
    if (from == 0) digest = std::make_unique<Crypto::Sha256>();

    bool restart = false;
    bool writeFailed = false;
    const auto head = [&](const Response& answer) {
      const std::string tag = answer.header("etag").value_or("");
      if (answer.status == 206 && (tag.empty() || tag != startedUnder)) {
        restart = true;  // the file changed since: its start is not this
        return false;
      }
      if (answer.status == 200 && from > 0) {
        // The device sent it whole: start over.
        std::fclose(out);
        out = std::fopen(partial.c_str(), "wb");
        digest = std::make_unique<Crypto::Sha256>();
        from = 0;
        if (out == nullptr) return false;
      }
      // Kept beside the partial file for a later run to resume under; not
      // synced: it matters after the program stops, not after a power cut,
      // and the checksum catches what a power cut could spoil.
      if (answer.status == 200 || answer.status == 206) std::ofstream(tagFile, std::ios::binary | std::ios::trunc) << tag;
      return answer.status == 200 || answer.status == 206;
    };
    const auto body = [&](std::string_view piece) {
      if (out == nullptr || std::fwrite(piece.data(), 1, piece.size(), out) != piece.size()) {
        writeFailed = true;
        return false;
      }
      digest->update(piece);
      received(static_cast<std::int64_t>(piece.size()));
      return true;
    };
    const Response answer = connection.stream(base, from, head, body);
    const bool closed = out != nullptr && std::fclose(out) == 0;
    if (writeFailed || !closed) return "cannot write " + partial.string() + " (is the disk full?)";
    if (restart) {
      fs::remove(partial, error);
      fs::remove(tagFile, error);
      return "again";
    }
    if (answer.status == 404) return "gone from the device";
    if (answer.status == 416) {
      // Asked from past the end: what is here is all there is, or the
      // file shrank; the checksum below tells.
    } else if (answer.status != 200 && answer.status != 206) {
      return errorText(answer);
    }

    const std::optional<std::string> device = deviceHash(connection, base);
    if (!device) return "the device cannot give its checksum";
    const std::string local = Bytes::hex(digest->finish());
    if (local != *device) {
      fs::remove(partial, error);
      fs::remove(tagFile, error);
      return "again";
    }
    fs::create_directories(final.parent_path(), error);
    fs::rename(partial, final, error);
    if (error) return "cannot move it to " + final.string() + ": " + error.message();
    fs::remove(tagFile, error);
    held(job, local, static_cast<std::int64_t>(fs::file_size(final, error)));
    return "";
  }

  void held(const Job& job, const std::string& sha256, std::int64_t size) {
    std::lock_guard hold(mutex_);
    HeldFile& file = held_.files()[job.key];
    file.sha256 = sha256;
    file.size = size;
    file.modified = job.modified;
    file.verified = true;
  }

  void received(std::int64_t bytes) {
    std::lock_guard hold(mutex_);
    report_.bytes += bytes;
    drawProgress(false);
  }

  void finish(const Job& job, const std::string& problem) {
    std::lock_guard hold(mutex_);
    if (problem.empty()) {
      ++report_.copied;
      if (options_.say && !options_.progress) options_.say("copied " + job.path);
    } else {
      ++report_.failed;
      if (options_.say) options_.say("not copied: " + job.path + ": " + problem);
    }
    // The record is written at most once a second: a run stopped in
    // between finds the files themselves and checks them instead.
    if (since(lastSave_) >= 1.0) {
      held_.save();
      lastSave_ = Steady::now();
    }
    drawProgress(true);
  }

  void drawProgress(bool now) {  // with mutex_ held
    if (!options_.progress) return;
    if (!now && since(lastDraw_) < 0.25) return;
    lastDraw_ = Steady::now();
    options_.progress(progressLine(report_.copied + report_.failed, total_, report_.bytes, since(started_)));
  }

  const PairedDevice& device_;
  HeldFiles& held_;
  const PullOptions& options_;
  std::mutex mutex_;
  std::deque<Job> jobs_;  // guarded by mutex_
  const std::int64_t total_;
  PullReport report_;     // guarded by mutex_
  Steady::time_point started_ = Steady::now();
  Steady::time_point lastSave_ = Steady::now();
  Steady::time_point lastDraw_{};
};

}  // namespace

std::string progressLine(std::int64_t filesDone, std::int64_t filesTotal, std::int64_t bytes, double seconds) {
  std::string line = Format::count(filesDone) + " of " + Format::count(filesTotal) + " files, " + Format::bytes(bytes);
  if (seconds > 0.5) {
    line += ", " + Format::bytes(static_cast<std::int64_t>(static_cast<double>(bytes) / seconds)) + "/s";
    if (filesDone > 0 && filesDone < filesTotal) {
      const double left = seconds / static_cast<double>(filesDone) * static_cast<double>(filesTotal - filesDone);
      const auto whole = static_cast<std::int64_t>(left + 0.5);
      char text[32];
      std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(whole / 60), static_cast<long long>(whole % 60));
      line += ", about " + std::string(text) + " left";
    }
  }
  return line;
}

PullReport pull(const PairedDevice& device, HeldFiles& held, const PullOptions& options) {
  if (!held.deviceId().empty() && !device.deviceId.empty() && held.deviceId() != device.deviceId) {
    throw std::runtime_error(held.dest() + " holds a copy of another device. Choose another folder.");
  }
  held.deviceId() = device.deviceId;

  DeviceConnection lister(device.host, device.port, device.fingerprint, device.token);
  std::deque<Job> jobs;
  PullReport already;
  std::string after;
  std::set<std::string> listed;
  do {
    const Response answer = lister.get("/v1/assets?limit=500" + (after.empty() ? "" : "&after=" + Text::percentEncoded(after)));
    if (answer.status != 200) throw std::runtime_error(errorText(answer));
    const nlohmann::json page = answer.json();
    if (!page.is_object() || !page["assets"].is_array()) throw std::runtime_error("The device sent a listing that does not read.");
    for (const nlohmann::json& asset : page["assets"]) {
      const std::string id = asset.value("id", "");
      const std::string modified = asset.value("modified", "");
      if (id.empty() || !listed.insert(id).second) continue;
      for (const nlohmann::json& resource : asset.value("resources", nlohmann::json::array())) {
        const std::string rid = resource.value("rid", "");
        if (rid.empty()) continue;
        const std::string key = HeldFiles::key(id, rid);
        const std::string path = held.assign(key, asset.value("created", ""), resource.value("name", rid));
        const HeldFile& file = held.files()[key];
        std::error_code error;
        const fs::path there = fs::path(held.dest()) / path;
        if (file.verified && file.modified == modified && fs::exists(there, error) &&
            static_cast<std::int64_t>(fs::file_size(there, error)) == file.size) {
          ++already.held;
          continue;
        }
        jobs.push_back({key, id, rid, path, modified});
      }
    }
    after = page["next"].is_string() ? page["next"].get<std::string>() : "";
  } while (!after.empty());
  held.save();  // the places given out, before anything lands in them

  PullReport report = Run(device, held, options, std::move(jobs)).go();
  report.held = already.held;
  return report;
}

}  // namespace lumenvale::laptop
