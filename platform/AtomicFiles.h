// Whole-file reads and writes for small configuration files. A write never
// leaves a half-written file behind: the new bytes go to a temporary file in
// the same directory, which then replaces the old file in one rename.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// Why a read gave no bytes: the file does not exist, or it exists but could
// not be read (no permission, not a regular file, larger than the limit).
enum class TReadFailure : unsigned char { rfNone, rfMissing, rfUnreadable };

// Reads a regular file of at most maxBytes bytes. Devices, pipes and
// directories are refused without being opened for blocking reads.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes,
                                         TReadFailure* failure = nullptr);

// Replaces the contents of path with bytes, or creates the file. A symbolic
// link is followed, so the link stays and its target changes. The file gets
// `mode` when given; otherwise an existing file keeps its permission bits
// and a new one gets 0666 less the umask. An existing file keeps its owner
// where the process may keep it. An existing file that is
// read-only (no write bit at all, or not writable by this process) is not
// replaced, although a rename would allow it. Returns false on any failure,
// leaving the old file as it was.
bool ReplaceFileContents(const std::string& path, std::string_view bytes,
                         std::optional<mode_t> mode = std::nullopt);

}  // namespace tolvane
