#include "platform/folder/media_metadata.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <future>
#include <limits>

#include "library_fixture.h"
#include "support/program.h"

namespace lumenvale {
namespace {

using namespace std::chrono;
using Zone = MediaMetadata::Zone;

TimePoint utc(year_month_day date, seconds time, microseconds fraction = {}) {
  return TimePoint(sys_days(date).time_since_epoch() + time + fraction);
}

// Runs the test body with this machine's zone set to `zone` (a POSIX TZ
// text, so no zone database is needed), and puts the old one back.
class LocalZone {
 public:
  explicit LocalZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~LocalZone() {
    if (old_) {
      ::setenv("TZ", old_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> old_;
};

TEST(MediaMetadataTest, ParsesTimeTexts) {
  // Three hours east of UTC: local times without an offset move by that.
  LocalZone zone("XXX-3");
  struct Case {
    const char* name;
    const char* text;
    Zone zone;
    std::optional<TimePoint> expected;
  };
  const Case cases[] = {
      {"exif with offset", "2023:06:01 12:20:30+02:00", Zone::local,
       utc(2023y / 6 / 1, 10h + 20min + 30s)},
      {"exif local", "2023:06:01 12:20:30", Zone::local, utc(2023y / 6 / 1, 9h + 20min + 30s)},
      {"iso utc default", "2023-06-01 12:20:30", Zone::utc, utc(2023y / 6 / 1, 12h + 20min + 30s)},
      {"iso Z with fraction", "2021-05-06T07:08:09.500000Z", Zone::local,
       utc(2021y / 5 / 6, 7h + 8min + 9s, 500000us)},
      {"fraction past microseconds", "2021-05-06T07:08:09.1234567Z", Zone::utc,
       utc(2021y / 5 / 6, 7h + 8min + 9s, 123456us)},
      {"short fraction", "2021:05:06 07:08:09.25+00:00", Zone::utc,
       utc(2021y / 5 / 6, 7h + 8min + 9s, 250000us)},
      {"offset without colon", "2023-06-01T12:20:30+0200", Zone::utc,
       utc(2023y / 6 / 1, 10h + 20min + 30s)},
      {"negative offset", "2023-07-04T09:00:00-05:00", Zone::utc, utc(2023y / 7 / 4, 14h)},
      {"leap day", "2020:02:29 23:59:59", Zone::utc, utc(2020y / 2 / 29, 23h + 59min + 59s)},
      {"before 1970", "1950:01:01 00:00:00Z", Zone::utc, utc(1950y / 1 / 1, 0s)},
      {"no clock", "0000:00:00 00:00:00", Zone::utc, std::nullopt},
      {"blank", "    :  :     :  :  ", Zone::utc, std::nullopt},
      {"empty", "", Zone::utc, std::nullopt},
      {"no leap day", "2023:02:29 12:00:00", Zone::utc, std::nullopt},
      {"hour 24", "2023:01:01 24:00:00", Zone::utc, std::nullopt},
      {"month 13", "2023:13:01 00:00:00", Zone::utc, std::nullopt},
      {"no time", "2023:01:01", Zone::utc, std::nullopt},
      {"trailing text", "2023:01:01 00:00:00 x", Zone::utc, std::nullopt},
      {"empty fraction", "2023:01:01 00:00:00.", Zone::utc, std::nullopt},
      {"broken offset", "2023:01:01 00:00:00+2", Zone::utc, std::nullopt},
      {"offset past 18 hours", "2023:01:01 00:00:00+19:00", Zone::utc, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MediaMetadata::parseTime(c.text, c.zone), c.expected);
  }
}

// A TimePoint counts nanoseconds since 1970 in 64 bits: capture times
// outside 1677-09-21T00:12:43.145224 to 2262-04-11T23:47:16.854775 would
// wrap into another century, so they read as no capture time at all.
TEST(MediaMetadataTest, TimesATimePointCannotHoldAreRefused) {
  LocalZone zone("XXX-3");
  struct Case {
    const char* text;
    Zone zone;
    std::optional<TimePoint> expected;
  };
  const Case cases[] = {
      {"0001:01:01 00:00:00", Zone::utc, std::nullopt},
      {"0001:01:01 00:00:00", Zone::local, std::nullopt},
      {"1600:06:01 12:00:00", Zone::utc, std::nullopt},
      {"1600:06:01 12:00:00+01:00", Zone::local, std::nullopt},
      {"1677:06:01 00:00:00", Zone::utc, std::nullopt},
      {"1677:09:21 00:12:43Z", Zone::utc, std::nullopt},
      {"1677:09:21 00:12:44Z", Zone::utc, utc(1677y / 9 / 21, 12min + 44s)},
      {"1677:12:01 00:00:00", Zone::utc, utc(1677y / 12 / 1, 0s)},
      {"2262:01:01 00:00:00", Zone::utc, utc(2262y / 1 / 1, 0s)},
      {"2262:04:11 23:47:16.854775Z", Zone::utc, utc(2262y / 4 / 11, 23h + 47min + 16s, 854775us)},
      {"2262:04:11 23:47:17Z", Zone::utc, std::nullopt},
      {"2262:04:12 00:30:00+01:00", Zone::utc, utc(2262y / 4 / 11, 23h + 30min)},
      {"2262:06:01 00:00:00", Zone::utc, std::nullopt},
      {"2263:01:01 00:00:00", Zone::utc, std::nullopt},
      {"2263:01:01 00:00:00", Zone::local, std::nullopt},
      {"9999:12:31 23:59:59", Zone::utc, std::nullopt},
      {"9999:12:31 23:59:59-18:00", Zone::utc, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + (c.zone == Zone::utc ? " utc" : " local"));
    EXPECT_EQ(MediaMetadata::parseTime(c.text, c.zone), c.expected);
  }
}

TEST(MediaMetadataTest, FileTimesClampToWhatATimePointHolds) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  struct Case {
    const char* name;
    timespec time;
    std::int64_t expected;
  };
  const Case cases[] = {
      {"the epoch", {0, 0}, 0},
      {"a second and a bit", {1, 5}, 1'000'000'005},
      {"just before the epoch", {-1, 999'999'999}, -1},
      {"the last nanosecond held", {9'223'372'036, 854'775'807}, kMax},
      {"one past it", {9'223'372'036, 854'775'808}, kMax},
      {"2500", {16'725'225'600, 0}, kMax},
      {"the last second there is", {std::numeric_limits<time_t>::max(), 999'999'999}, kMax},
      {"the first nanosecond held", {-9'223'372'037, 145'224'192}, kMin},
      {"one before it", {-9'223'372'037, 145'224'191}, kMin},
      {"1600", {-11'676'096'000, 0}, kMin},
      {"the first second there is", {std::numeric_limits<time_t>::min(), 0}, kMin},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MediaMetadata::fileNanoseconds(c.time), c.expected);
  }
}

// A FIFO or a link put in a photo's place is not read: opening a FIFO by
// name would wait for a writer that never comes, and a link may lead out
// of the library.
TEST(MediaMetadataTest, NeverWaitsOnAFifoNorFollowsALink) {
  const auto& folder = testing::libraryFixture();
  testing::TemporaryFolder hostile("metadata-hostile");
  const std::string fifo = hostile.path() + "/IMG_0001.JPG";
  const std::string fifoVideo = hostile.path() + "/IMG_0002.MOV";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(fifoVideo.c_str(), 0600), 0);
  const std::string link = hostile.path() + "/IMG_0003.JPG";
  std::filesystem::create_symlink(folder / "2023/IMG_0001.JPG", link);
  ASSERT_TRUE(MediaMetadata::readPhoto((folder / "2023/IMG_0001.JPG").string()));  // the target itself reads
  struct Case {
    std::string path;
    bool video;
  };
  for (const Case& c : {Case{fifo, false}, Case{fifoVideo, true}, Case{link, false}}) {
    SCOPED_TRACE(c.path);
    auto read = std::async(std::launch::async, [&c] {
      return c.video ? MediaMetadata::readVideo(c.path) : MediaMetadata::readPhoto(c.path);
    });
    if (read.wait_for(5s) != std::future_status::ready) {
      ADD_FAILURE() << "still waiting on the FIFO";
      // A writer lets the reader go, so the test can end.
      const int writer = ::open(c.path.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
    }
    EXPECT_FALSE(read.get().has_value());
  }
}

TEST(MediaMetadataTest, ReadsWhatEachFileRecords) {
  const auto& folder = testing::libraryFixture();
  LocalZone zone("XXX-3");
  enum class Kind { photo, video };
  struct Case {
    const char* file;
    Kind kind;
    std::optional<MediaMetadata> expected;
  };
  const Case cases[] = {
      {"2023/IMG_0001.JPG", Kind::photo,
       MediaMetadata{utc(2023y / 6 / 1, 10h + 20min + 30s, 250000us), 64, 48, std::nullopt}},
      {"2023/IMG_0002.JPG", Kind::photo,
       MediaMetadata{utc(2023y / 7 / 4, 14h), 64, 48, std::nullopt}},
      // Without DateTimeOriginal: DateTime with its own offset.
      {"2023/IMG_0003.JPG", Kind::photo,
       MediaMetadata{utc(2022y / 1 / 2, 3h + 4min + 5s), 64, 48, std::nullopt}},
      {"2023/IMG_E0003.JPG", Kind::photo, MediaMetadata{std::nullopt, 32, 24, std::nullopt}},
      // Orientation 6 shows the 64 x 48 picture turned a quarter.
      {"2023/IMG_0007.JPG", Kind::photo,
       MediaMetadata{utc(2020y / 2 / 29, 20h + 59min + 59s), 48, 64, std::nullopt}},
      {"2023/local.jpg", Kind::photo,
       MediaMetadata{utc(2021y / 3 / 4, 2h + 6min + 7s), 16, 16, std::nullopt}},
      {"IMG_0006.HEIC", Kind::photo,
       MediaMetadata{utc(2019y / 12 / 31, 17h + 30min), 64, 48, std::nullopt}},
      {"plain.png", Kind::photo, MediaMetadata{std::nullopt, 40, 30, std::nullopt}},
      {"2023/IMG_0002.MOV", Kind::video, MediaMetadata{utc(2023y / 7 / 4, 14h), 64, 48, 1.0}},
      {"IMG_0004.MOV", Kind::video, MediaMetadata{utc(2021y / 5 / 6, 7h + 8min + 9s), 80, 60, 2.0}},
      {"undated.mp4", Kind::video, MediaMetadata{std::nullopt, 80, 60, 1.0}},
      {"notes.jpg", Kind::photo, std::nullopt},
      {"truncated.jpg", Kind::photo, std::nullopt},
      {"missing.jpg", Kind::photo, std::nullopt},
      {"clip.mov", Kind::video, std::nullopt},
      {"cut.mov", Kind::video, std::nullopt},
      {"missing.mov", Kind::video, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string path = (folder / c.file).string();
    auto read =
        c.kind == Kind::photo ? MediaMetadata::readPhoto(path) : MediaMetadata::readVideo(path);
    ASSERT_EQ(read.has_value(), c.expected.has_value());
    if (!read) continue;
    EXPECT_EQ(read->created, c.expected->created);
    EXPECT_EQ(read->width, c.expected->width);
    EXPECT_EQ(read->height, c.expected->height);
    ASSERT_EQ(read->duration.has_value(), c.expected->duration.has_value());
    if (read->duration) {
      EXPECT_NEAR(*read->duration, *c.expected->duration, 0.05);
    }
  }
}

}  // namespace
}  // namespace lumenvale
