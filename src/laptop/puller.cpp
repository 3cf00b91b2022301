#include "laptop/puller.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "laptop/device_connection.h"
#include "laptop/listing.h"
#include "util/atomic_file.h"
#include "util/bytes.h"
#include "util/crypto.h"
#include "util/failure.h"
#include "util/format.h"
#include "util/mutex.h"
#include "util/text.h"

namespace lumenvale::laptop {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

struct Job {
  std::string key;
  std::string asset;
  std::string rid;
  std::string created;   // where a resource without a place goes
  std::string name;
  std::string modified;  // the asset's version now
  // A file at the resource's natural place that may already be its copy:
  // held by the record `adoptFrom` (of an id the device no longer lists),
  // or by no record at all.
  std::string adoptPath;
  std::optional<std::string> adoptFrom;
  // What the download is expected to weigh: an earlier copy's size, 0 when
  // unknown, -1 when most likely nothing is downloaded (a copy only to
  // check again).
  std::int64_t expected = 0;
};

enum class Outcome { kCopied, kFetchedAgain, kHeld, kRecognised };

// The disk that holds DEST takes no more: the run stops.
class DiskFull : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

bool diskIsFull(int error) { return error == ENOSPC || error == EDQUOT; }

double since(Steady::time_point start) { return std::chrono::duration<double>(Steady::now() - start).count(); }

// feed adds the bytes of the file at `path` to `digest`; false when it
// cannot be read.
bool feed(const std::string& path, Crypto::Sha256& digest) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  std::vector<char> buffer(1 << 20);
  ssize_t got = 0;
  while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) digest.update(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
  ::close(fd);
  return got == 0;
}

// setModified gives the copy the asset's modification time, which photo
// tools and backups sort by; the copy is as good without it.
void setModified(const std::string& path, const std::string& modified) {
  const std::optional<Format::TimePoint> when = Format::parseIso8601(modified);
  if (!when) return;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when->time_since_epoch()).count();
  timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)}};
  if (times[1].tv_nsec < 0) {
    times[1].tv_nsec += 1000000000;
    times[1].tv_sec -= 1;
  }
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// versionDay is the day of a version text, "2024-05-01", for the name of a
// copy kept aside.
std::string versionDay(const std::string& modified) {
  if (modified.size() >= 10 && modified[4] == '-' && modified[7] == '-' &&
      modified.substr(0, 10).find_first_not_of("0123456789-") == std::string::npos) {
    return modified.substr(0, 10);
  }
  return "undated";
}

std::string files(std::int64_t n) { return n == 1 ? "1 file" : Format::count(n) + " files"; }

// The shared state of one run: the jobs left, the copy's record, counters.
class Run {
 public:
  Run(const PairedDevice& device, HeldFiles& held, const PullOptions& options, std::deque<Job> jobs,
      std::int64_t averageSize)
      : device_(device),
        held_(held),
        options_(options),
        jobs_(std::move(jobs)),
        total_(static_cast<std::int64_t>(jobs_.size())),
        averageSize_(averageSize) {}

  PullReport go() {
    int workers = 1;
    {
      MutexLock hold(mutex_);
      workers = std::max(1, std::min<int>(options_.parallel, static_cast<int>(jobs_.size())));
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) threads.emplace_back([this] { work(); });
    for (std::thread& thread : threads) thread.join();
    MutexLock hold(mutex_);
    report_.left += static_cast<std::int64_t>(jobs_.size());
    if (!save() && report_.stopped.empty()) {
      report_.stopped = "Cannot write " + held_.stateFolder() + "/held.json. The copies are in place; the next pull checks them again.";
    }
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
        MutexLock hold(mutex_);
        if (jobs_.empty() || !report_.stopped.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
        inFlight_[job.key] = {estimate(job), 0};
      }
      // A lost connection is tried again, waiting longer each time, for
      // as long as the options allow; the partial file resumes each time.
      std::optional<Steady::time_point> firstLoss;
      std::chrono::milliseconds pause(250);
      for (;;) {
        try {
          finish(job, copy(connection, job), "");
          break;
        } catch (const CertificateMismatch& failure) {
          stop(failure.what(), job);
          return;
        } catch (const ConnectionError& failure) {
          if (!firstLoss) firstLoss = Steady::now();
          if (Steady::now() - *firstLoss + pause > options_.retryFor) {
            stop("Lost the connection to " + device_.name + ": " + failure.what(), job);
            return;
          }
          MutexLock hold(mutex_);
          const auto until = Steady::now() + pause;
          while (report_.stopped.empty() && hold.waitUntil(wake_, until)) {
          }
          if (!report_.stopped.empty()) {
            leave(job);
            return;
          }
          pause = std::min<std::chrono::milliseconds>(pause * 2, std::chrono::seconds(8));
        } catch (const DiskFull& failure) {
          stop(failure.what(), job);
          return;
        } catch (const std::exception& failure) {
          finish(job, std::nullopt, failure.what());
          break;
        }
      }
    }
  }

  // copy brings one resource into the copy folder. Throws what ended it: a
  // problem with this file as std::runtime_error, ConnectionError and
  // DiskFull for what may end the run.
  Outcome copy(DeviceConnection& connection, const Job& job) {
    const std::string base = "/v1/assets/" + job.asset + "/res/" + job.rid;
    if (!job.adoptPath.empty() && adopt(connection, job, base)) return Outcome::kRecognised;

    HeldFile record;
    std::string path;
    {
      MutexLock hold(mutex_);
      path = held_.assign(job.key, job.created, job.name);
      record = held_.files()[job.key];
    }
    const std::string final = held_.dest() + "/" + path;
    bool again = false;
    if (stampOf(final)) {
      if (record.verified && sameVersion(record.modified, job.modified)) {
        const HeldFiles::Examined found = HeldFiles::examine(held_.dest(), record, HeldFiles::Look::kStamp);
        if (found.state == CopyState::kIntact) {
          holds(job, record.sha256, record.size, found.stamp);
          return Outcome::kHeld;
        }
        moveAside(path, "changed here");
        again = true;
      } else {
        // There from a run stopped before it wrote its record down, or an
        // earlier version: the device's checksum decides.
        const std::string device = deviceHash(connection, base);
        const std::optional<std::string> local = hashFile(final);
        if (local && *local == device) {
          if (!record.verified) setModified(final, job.modified);
          const std::optional<Stamp> stamp = stampOf(final);
          holds(job, *local, stamp ? stamp->size : 0, stamp);
          return Outcome::kHeld;
        }
        const bool earlier = record.verified && local == record.sha256;
        moveAside(path, earlier ? versionDay(record.modified) + " earlier" : "changed here");
        again = record.verified && !earlier;
      }
    } else {
      again = record.verified;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (download(connection, job, base, path)) return again ? Outcome::kFetchedAgain : Outcome::kCopied;
    }
    throw std::runtime_error("the file kept changing on the device");
  }

  // adopt takes the file at the job's natural place as the copy when it
  // holds the device's bytes; false when it does not (the resource then
  // gets a place of its own).
  bool adopt(DeviceConnection& connection, const Job& job, const std::string& base) {
    const std::string device = deviceHash(connection, base);
    HeldFile from;
    {
      MutexLock hold(mutex_);
      if (held_.holderOf(job.adoptPath) != job.adoptFrom) return false;  // taken meanwhile
      if (job.adoptFrom) from = held_.files().at(*job.adoptFrom);
    }
    std::optional<Stamp> stamp;
    if (job.adoptFrom) {
      const HeldFiles::Examined found = HeldFiles::examine(held_.dest(), from, HeldFiles::Look::kStamp);
      if (found.state != CopyState::kIntact || from.sha256 != device) return false;
      stamp = found.stamp;
    } else {
      stamp = stampOf(held_.dest() + "/" + job.adoptPath);
      if (!stamp || hashFile(held_.dest() + "/" + job.adoptPath) != device) return false;
    }
    MutexLock hold(mutex_);
    if (held_.holderOf(job.adoptPath) != job.adoptFrom) return false;
    held_.adopt(job.key, job.adoptPath, job.adoptFrom);
    HeldFile& file = held_.files()[job.key];
    file.sha256 = device;
    file.size = stamp->size;
    file.modified = job.modified;
    file.verified = true;
    file.stamp = stamp;
    return true;
  }

  // moveAside renames what is at `path` under DEST to a name that says why
  // it made way; it is never overwritten, and nothing overwrites it.
  void moveAside(const std::string& path, const std::string& label) {
    std::string aside;
    {
      MutexLock hold(mutex_);
      aside = asideName(path, label, [&](const std::string& candidate) {
        return held_.holderOf(candidate).has_value() || stampOf(held_.dest() + "/" + candidate).has_value() ||
               fs::is_symlink(held_.dest() + "/" + candidate);
      });
    }
    const std::string from = held_.dest() + "/" + path;
    const std::string to = held_.dest() + "/" + aside;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
      throw std::runtime_error("cannot move " + path + " aside to make way for the device's copy: " + errnoText(errno));
    }
    MutexLock hold(mutex_);
    ++report_.keptAside;
    if (options_.say) options_.say("kept " + path + " as " + aside);
  }

  std::string deviceHash(DeviceConnection& connection, const std::string& base) {
    const Response answer = connection.get(base + "/sha256");
    if (answer.status == 404) throw std::runtime_error("gone from the device");
    const nlohmann::json body = answer.json();
    if (answer.status != 200 || !body.is_object() || !body.contains("sha256") || !body["sha256"].is_string()) {
      throw std::runtime_error("the device cannot give its checksum: " + errorText(answer));
    }
    return body["sha256"].get<std::string>();
  }

  // download fetches into the partial file, resuming it when its ETag is
  // still the device's, and moves it to `path` once the device's checksum
  // confirms it; false asks for one more try from the start.
  bool download(DeviceConnection& connection, const Job& job, const std::string& base, const std::string& path) {
    const std::string partial = held_.partialPath(job.key);
    const std::string tagFile = partial + ".etag";
    const std::string final = held_.dest() + "/" + path;
    std::error_code error;
    fs::create_directories(fs::path(partial).parent_path(), error);
    if (error) {
      if (diskIsFull(error.value())) throw DiskFull(diskFullText());
      throw std::runtime_error("cannot make " + fs::path(partial).parent_path().string() + ": " + error.message());
    }
    const std::optional<std::string> startedUnder = AtomicFile::read(tagFile);
    std::int64_t from = 0;
    auto digest = std::make_unique<Crypto::Sha256>();
    if (const std::optional<Stamp> there = stampOf(partial); startedUnder && there && there->size > 0) {
      from = there->size;
      if (!feed(partial, *digest)) from = 0;
    }
    if (from == 0) digest = std::make_unique<Crypto::Sha256>();
    int out = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (from > 0 ? O_APPEND : O_TRUNC), 0600);
    if (out < 0) {
      if (diskIsFull(errno)) throw DiskFull(diskFullText());
      throw std::runtime_error("cannot write " + partial + ": " + errnoText(errno));
    }

    bool restart = false;
    int writeError = 0;
    const auto head = [&](const Response& answer) {
      const std::string tag = answer.header("etag").value_or("");
      if (answer.status == 206 && (tag.empty() || tag != startedUnder)) {
        restart = true;  // the file changed since: its start is not this
        return false;
      }
      if (answer.status == 200 && from > 0) {
        // The device sent it whole: start over.
        if (::ftruncate(out, 0) != 0) {
          writeError = errno;
          return false;
        }
        digest = std::make_unique<Crypto::Sha256>();
        from = 0;
      }
      // Kept beside the partial file for a later run to resume under; not
      // synced: it matters after the program stops, not after a power cut,
      // and the checksum catches what a power cut could spoil.
      if (answer.status == 200 || answer.status == 206) std::ofstream(tagFile, std::ios::binary | std::ios::trunc) << tag;
      return answer.status == 200 || answer.status == 206;
    };
    const auto body = [&](std::string_view piece) {
      while (!piece.empty()) {
        const ssize_t wrote = ::write(out, piece.data(), piece.size());
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
          writeError = wrote < 0 ? errno : ENOSPC;
          return false;
        }
        digest->update(piece.substr(0, static_cast<std::size_t>(wrote)));
        received(job.key, wrote);
        piece.remove_prefix(static_cast<std::size_t>(wrote));
      }
      return true;
    };
    Response answer;
    try {
      answer = connection.stream(base, from, head, body);
    } catch (...) {
      ::close(out);
      throw;
    }
    if (::close(out) != 0 && writeError == 0) writeError = errno;
    if (writeError != 0) {
      if (diskIsFull(writeError)) throw DiskFull(diskFullText());
      throw std::runtime_error("cannot write " + partial + ": " + errnoText(writeError));
    }
    if (restart) {
      fs::remove(partial, error);
      fs::remove(tagFile, error);
      return false;
    }
    if (answer.status == 404) throw std::runtime_error("gone from the device");
    if (answer.status == 416) {
      // Asked from past the end: what is here is all there is, or the
      // file shrank; the checksum below tells.
    } else if (answer.status != 200 && answer.status != 206) {
      throw std::runtime_error(errorText(answer));
    }

    const std::string device = deviceHash(connection, base);
    const std::string local = Bytes::hex(digest->finish());
    if (local != device) {
      fs::remove(partial, error);
      fs::remove(tagFile, error);
      return false;
    }
    fs::create_directories(fs::path(final).parent_path(), error);
    if (error && diskIsFull(error.value())) throw DiskFull(diskFullText());
    // Never over a file: whatever came to be at the place meanwhile is not
    // this copy's to replace.
    if (::renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, final.c_str(), RENAME_NOREPLACE) != 0) {
      throw std::runtime_error("cannot move it to " + final + ": " + errnoText(errno));
    }
    fs::remove(tagFile, error);
    setModified(final, job.modified);
    const std::optional<Stamp> stamp = stampOf(final);
    holds(job, local, stamp ? stamp->size : 0, stamp);
    return true;
  }

  void holds(const Job& job, const std::string& sha256, std::int64_t size, const std::optional<Stamp>& stamp) {
    MutexLock hold(mutex_);
    HeldFile& file = held_.files()[job.key];
    file.sha256 = sha256;
    file.size = size;
    file.modified = job.modified;
    file.verified = true;
    file.stamp = stamp;
  }

  // estimate is what a job is expected to download.
  std::int64_t estimate(const Job& job) const REQUIRES(mutex_) {
    if (job.expected > 0) return job.expected;
    if (job.expected < 0) return 0;
    return doneFiles_ > 0 ? doneBytes_ / doneFiles_ : averageSize_;
  }

  void received(const std::string& key, std::int64_t bytes) {
    MutexLock hold(mutex_);
    report_.bytes += bytes;
    inFlight_[key].second += bytes;
    drawProgress(false);
  }

  void finish(const Job& job, std::optional<Outcome> outcome, const std::string& problem) {
    MutexLock hold(mutex_);
    inFlight_.erase(job.key);
    if (!outcome) {
      ++report_.failed;
      if (options_.say) options_.say("not copied: " + held_.files()[job.key].path + ": " + problem);
    } else if (*outcome == Outcome::kHeld) {
      ++report_.held;
    } else if (*outcome == Outcome::kRecognised) {
      ++report_.recognised;
      if (options_.say) options_.say("found in " + held_.dest() + " already: " + held_.files()[job.key].path);
    } else {
      ++report_.copied;
      if (*outcome == Outcome::kFetchedAgain) ++report_.fetchedAgain;
      const HeldFile& file = held_.files()[job.key];
      doneBytes_ += file.size;
      ++doneFiles_;
      if (options_.say && !options_.progress) options_.say("copied " + file.path);
    }
    // The record is written at most once a second: a run stopped in
    // between finds the files themselves and checks them instead.
    if (since(lastSave_) >= 1.0) {
      save();
      lastSave_ = Steady::now();
    }
    drawProgress(true);
  }

  // save writes the record down; false when it cannot (a full disk), which
  // loses nothing: the files are found and checked again next time.
  bool save() REQUIRES(mutex_) {
    try {
      held_.save();
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }

  // leave puts a job back as not tried, for a run that stops.
  void leave(const Job& job) REQUIRES(mutex_) {
    inFlight_.erase(job.key);
    ++report_.left;
  }

  // stop ends the run for everyone with `why`; `job` is left for next time.
  void stop(const std::string& why, const Job& job) {
    MutexLock hold(mutex_);
    if (report_.stopped.empty()) report_.stopped = why;
    leave(job);
    wake_.notify_all();
  }

  std::string diskFullText() {
    struct statvfs disk {};
    std::string free;
    if (::statvfs(held_.dest().c_str(), &disk) == 0) {
      free = " (" + Format::bytes(static_cast<std::int64_t>(disk.f_bavail) * static_cast<std::int64_t>(disk.f_frsize)) + " free)";
    }
    MutexLock hold(mutex_);
    const std::int64_t filesLeft = static_cast<std::int64_t>(jobs_.size() + inFlight_.size());
    const std::int64_t needed = std::max<std::int64_t>(0, expected() - report_.bytes);
    return "The disk that holds " + held_.dest() + " is full" + free + ": about " + Format::bytes(needed) +
           " more are needed for the " + files(filesLeft) + " left. Free some space there and pull again.";
  }

  // expected is the run's estimated total of bytes, 0 while there is
  // nothing to guess from: no file done and none held before.
  std::int64_t expected() const REQUIRES(mutex_) {
    if (doneFiles_ == 0 && averageSize_ == 0) return 0;
    std::int64_t sum = report_.bytes;
    for (const Job& job : jobs_) sum += estimate(job);
    for (const auto& [key, flight] : inFlight_) sum += std::max<std::int64_t>(0, flight.first - flight.second);
    return sum;
  }

  void drawProgress(bool now) REQUIRES(mutex_) {
    if (!options_.progress) return;
    if (!now && since(lastDraw_) < 0.25) return;
    lastDraw_ = Steady::now();
    const std::int64_t done = report_.copied + report_.held + report_.recognised + report_.failed;
    options_.progress(progressLine({done, total_, report_.bytes, expected(), since(started_), true}));
  }

  const PairedDevice& device_;
  HeldFiles& held_;
  const PullOptions& options_;
  Mutex mutex_;
  std::condition_variable wake_;  // a stop, for the workers waiting to try again
  std::deque<Job> jobs_ GUARDED_BY(mutex_);
  // key -> (expected, received) of each job under way.
  std::map<std::string, std::pair<std::int64_t, std::int64_t>> inFlight_ GUARDED_BY(mutex_);
  const std::int64_t total_;
  const std::int64_t averageSize_;  // of the copies DEST held before
  std::int64_t doneBytes_ GUARDED_BY(mutex_) = 0;
  std::int64_t doneFiles_ GUARDED_BY(mutex_) = 0;
  PullReport report_ GUARDED_BY(mutex_);
  Steady::time_point started_ = Steady::now();
  Steady::time_point lastSave_ GUARDED_BY(mutex_) = Steady::now();
  Steady::time_point lastDraw_ GUARDED_BY(mutex_){};
};

// clearPartials removes what an ended run leaves in the partial folder
// without use: empty files and tags without a file. The folder goes too
// when nothing is left in it.
void clearPartials(const HeldFiles& held) {
  const fs::path folder = held.stateFolder() + "/partial";
  std::error_code error;
  std::vector<fs::path> gone;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().string();
    if (name.ends_with(".part")) {
      const std::optional<Stamp> stamp = stampOf(name);
      if (stamp && stamp->size == 0) {
        gone.push_back(entry.path());
        gone.push_back(name + ".etag");
      }
    } else if (name.ends_with(".part.etag") && !stampOf(name.substr(0, name.size() - 5))) {
      gone.push_back(entry.path());
    }
  }
  for (const fs::path& path : gone) fs::remove(path, error);
  fs::remove(folder, error);  // only when empty
}

}  // namespace

std::string asideName(const std::string& path, const std::string& label,
                      const std::function<bool(const std::string&)>& taken) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = path.substr(folder.size());
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
  std::string candidate = folder + stem + " (" + label + ")" + extension;
  for (int n = 2; taken(candidate); ++n) candidate = folder + stem + " (" + label + " " + std::to_string(n) + ")" + extension;
  return candidate;
}

std::string progressLine(const Progress& progress) {
  std::string line;
  const bool estimated = progress.bytesExpected > 0 && progress.filesDone < progress.filesTotal;
  if (progress.bar) {
    double part = progress.filesTotal > 0 ? static_cast<double>(progress.filesDone) / static_cast<double>(progress.filesTotal) : 1;
    if (estimated) part = std::min(1.0, static_cast<double>(progress.bytes) / static_cast<double>(progress.bytesExpected));
    const int filled = static_cast<int>(part * 20 + 0.5);
    line = "[" + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(20 - filled), '.') + "] ";
  }
  line += Format::count(progress.filesDone) + " of " + files(progress.filesTotal) + ", " + Format::bytes(progress.bytes);
  if (estimated) line += " of about " + Format::bytes(std::max(progress.bytes, progress.bytesExpected));
  if (progress.seconds > 0.5 && progress.bytes > 0) {
    const double rate = static_cast<double>(progress.bytes) / progress.seconds;
    line += ", " + Format::bytes(static_cast<std::int64_t>(rate)) + "/s";
    if (estimated && progress.bytesExpected > progress.bytes) {
      const auto whole = static_cast<std::int64_t>(static_cast<double>(progress.bytesExpected - progress.bytes) / rate + 0.5);
      char text[32];
      if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(whole / 3600),
                      static_cast<long long>(whole / 60 % 60), static_cast<long long>(whole % 60));
      } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(whole / 60), static_cast<long long>(whole % 60));
      }
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

  struct Listed {
    std::string key, asset, rid, created, name, modified;
  };
  std::vector<Listed> listing;
  std::set<std::string> listedKeys;
  for (const ListedAsset& asset : listAssets(device)) {
    for (const ListedResource& resource : asset.resources) {
      const std::string key = HeldFiles::key(asset.id, resource.rid);
      listedKeys.insert(key);
      listing.push_back({key, asset.id, resource.rid, asset.created, resource.name, asset.modified});
    }
  }

  std::int64_t heldBytes = 0;
  std::int64_t heldFiles = 0;
  for (const auto& [key, file] : held.files()) {
    if (!file.verified) continue;
    heldBytes += file.size;
    ++heldFiles;
  }

  std::deque<Job> jobs;
  PullReport already;
  for (const Listed& item : listing) {
    Job job{item.key, item.asset, item.rid, item.created, item.name, item.modified, "", std::nullopt, 0};
    const auto known = held.files().find(item.key);
    if (known != held.files().end() && !known->second.path.empty()) {
      const HeldFile& file = known->second;
      if (file.verified && sameVersion(file.modified, item.modified)) {
        // Untouched since it was hashed: held. Otherwise a worker hashes
        // it, and fetches it again only when its bytes changed.
        const std::optional<Stamp> now = stampOf(held.dest() + "/" + file.path);
        if (now && file.stamp == now) {
          ++already.held;
          continue;
        }
        job.expected = now && now->size == file.size ? -1 : file.size;
      } else if (file.verified) {
        job.expected = file.size;
      }
    } else {
      // New to this copy: a file at its natural place may be it already,
      // under an id the device used before or put there by other means.
      const std::string natural = HeldFiles::naturalPlace(item.created, item.name);
      if (stampOf(held.dest() + "/" + natural)) {
        const std::optional<std::string> holder = held.holderOf(natural);
        if (!holder || (listedKeys.count(*holder) == 0 && held.files()[*holder].verified)) {
          job.adoptPath = natural;
          job.adoptFrom = holder;
          job.expected = holder ? held.files()[*holder].size : 0;
        }
      }
      if (job.adoptPath.empty()) held.assign(item.key, item.created, item.name);
    }
    jobs.push_back(std::move(job));
  }
  held.save();  // the places given out, before anything lands in them

  PullReport report = Run(device, held, options, std::move(jobs), heldFiles > 0 ? heldBytes / heldFiles : 0).go();
  report.held += already.held;
  clearPartials(held);
  return report;
}

}  // namespace lumenvale::laptop
