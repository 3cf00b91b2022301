// Whole-file reads and crash-safe whole-file writes for the small stores
// (laptops, safe marks, settings, keychain items). Stateless; callers
// serialise writes to one path themselves.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace lumenvale::AtomicFile {

// read returns the whole content of `path`, or nothing when it cannot be
// read (missing, a folder, no permission).
std::optional<std::string> read(const std::string& path);

// write replaces `path` with `bytes` so that a crash leaves either the old
// content or the new, never a mix: a temporary file beside it with `mode`,
// fsync, rename over the old one, fsync of the folder. Returns false (and
// leaves the old file as it was) on any failure.
[[nodiscard]] bool write(const std::string& path, std::string_view bytes, mode_t mode = 0600);

// writeAll writes every byte of `bytes` to `fd`, going on after signals;
// false on a failure (errno tells which).
[[nodiscard]] bool writeAll(int fd, std::string_view bytes);

// makeDirectories creates `path` and its missing parents with `mode`;
// true when it exists as a folder afterwards.
[[nodiscard]] bool makeDirectories(const std::string& path, mode_t mode = 0700);

}  // namespace lumenvale::AtomicFile
