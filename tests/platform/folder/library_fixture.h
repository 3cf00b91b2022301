// A small photo library made on first use and shared by the tests of one
// run: JPEGs with and without EXIF times, a Live Photo, an edited photo
// with its adjustments, a video, a HEIC, a PNG without a date and files that
// only pretend to be media. Pictures come from ffmpeg and heif-enc, EXIF is
// written with exiv2. Used from the test thread only.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "support/command.h"

namespace lumenvale::testing {

inline void run(const std::vector<std::string>& arguments) {
  CommandResult result = runCommand(arguments, std::chrono::seconds(60));
  if (result.status != 0) {
    ADD_FAILURE() << arguments.front() << " failed: " << result.output;
  }
}

inline void writeFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A JPEG of `width` x `height` with these EXIF tags (key -> text).
inline void makeJpeg(const std::filesystem::path& path, int width, int height,
                     const std::map<std::string, std::string>& exif) {
  run({"/usr/bin/ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
       "testsrc=size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=1",
       "-frames:v", "1", path.string()});
  if (exif.empty()) return;
  auto image = Exiv2::ImageFactory::open(path.string());
  image->readMetadata();
  Exiv2::ExifData data;
  for (const auto& [key, value] : exif) {
    if (key == "Exif.Image.Orientation") {
      data[key] = static_cast<uint16_t>(std::stoi(value));
    } else {
      data[key] = value;
    }
  }
  image->setExifData(data);
  image->writeMetadata();
}

inline void makeMovie(const std::filesystem::path& path, int width, int height,
                      const std::string& seconds, const std::string& creationTime) {
  std::vector<std::string> arguments{
      "/usr/bin/ffmpeg",
      "-v",
      "error",
      "-y",
      "-f",
      "lavfi",
      "-i",
      "testsrc=size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=10",
      "-t",
      seconds,
      "-pix_fmt",
      "yuv420p"};
  if (!creationTime.empty()) {
    arguments.push_back("-metadata");
    arguments.push_back("creation_time=" + creationTime);
  }
  arguments.push_back(path.string());
  run(arguments);
}

// libraryFixture returns the folder of the shared library, made on the
// first call.
inline const std::filesystem::path& libraryFixture() {
  // Never destroyed, so the clean-up at exit still finds it.
  static const std::filesystem::path* folder = new std::filesystem::path([] {
    std::filesystem::path root = std::filesystem::temp_directory_path() /
                                 ("lumenvale-folder-fixture-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "2023");
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*folder, ignored);
    });
    const auto at = root / "2023";
    makeJpeg(at / "IMG_0001.JPG", 64, 48,
             {{"Exif.Photo.DateTimeOriginal", "2023:06:01 12:20:30"},
              {"Exif.Photo.SubSecTimeOriginal", "25"},
              {"Exif.Photo.OffsetTimeOriginal", "+02:00"},
              {"Exif.Image.DateTime", "2024:01:01 00:00:00"}});
    makeJpeg(at / "IMG_0002.JPG", 64, 48,
             {{"Exif.Photo.DateTimeOriginal", "2023:07:04 09:00:00"},
              {"Exif.Photo.OffsetTimeOriginal", "-05:00"}});
    makeMovie(at / "IMG_0002.MOV", 64, 48, "1", "2023-07-04T14:00:00Z");
    makeJpeg(at / "IMG_0003.JPG", 64, 48,
             {{"Exif.Image.DateTime", "2022:01:02 03:04:05"}, {"Exif.Photo.OffsetTime", "+00:00"}});
    makeJpeg(at / "IMG_E0003.JPG", 32, 24, {});
    writeFile(at / "IMG_0003.AAE", "<?xml version=\"1.0\"?><plist/>");
    makeJpeg(
        at / "IMG_0007.JPG", 64, 48,
        {{"Exif.Photo.DateTimeOriginal", "2020:02:29 23:59:59"}, {"Exif.Image.Orientation", "6"}});
    makeJpeg(at / "local.jpg", 16, 16, {{"Exif.Photo.DateTimeOriginal", "2021:03:04 05:06:07"}});
    // The movie header keeps whole seconds.
    makeMovie(root / "IMG_0004.MOV", 80, 60, "2", "2021-05-06T07:08:09Z");
    makeMovie(root / "undated.mp4", 80, 60, "1", "");
    // heif-enc carries the JPEG's EXIF over into the HEIC.
    makeJpeg(root / "heic-source.jpeg", 64, 48,
             {{"Exif.Photo.DateTimeOriginal", "2019:12:31 18:30:00"},
              {"Exif.Photo.OffsetTimeOriginal", "+01:00"}});
    run({"/usr/bin/heif-enc", "-q", "50", (root / "heic-source.jpeg").string(), "-o",
         (root / "IMG_0006.HEIC").string()});
    std::filesystem::remove(root / "heic-source.jpeg");
    run({"/usr/bin/ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=40x30:rate=1",
         "-frames:v", "1", (root / "plain.png").string()});
    writeFile(root / "notes.jpg", "These are not the photos you are looking for.\n");
    writeFile(root / "clip.mov", "neither is this a movie\n");
    writeFile(root / "truncated.jpg", readFile(at / "IMG_0001.JPG").substr(0, 100));
    writeFile(root / "cut.mov", readFile(root / "IMG_0004.MOV").substr(0, 200));
    writeFile(root / "readme.txt", "not part of the library\n");
    return root;
  }());
  return *folder;
}

}  // namespace lumenvale::testing
