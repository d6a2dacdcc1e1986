// Listing the image files of a directory, alone or with its whole subtree,
// by the table of supported extensions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane {

// Names are appended in byte order of the entries of each directory, so a
// search groups the same files the same way on every run. Only regular
// files (or links to them) are listed; a directory that cannot be read adds
// nothing.

// Appends the supported files of current and, depth first, of every
// subdirectory whose name does not begin with "." (directory links are not
// followed). Each name is current + "/" + entry with the first
// start.size() characters cut off, so with start ending in "/" every name
// begins with "/" ("/a.jpg", "/sub/b.bmp") and start + name is its path.
void ScanDirectoryTree(const std::string& start, const std::string& current, std::vector<std::string>& list);
// Appends the bare names of the supported files of directory alone.
void ScanDirectory(const std::string& directory, std::vector<std::string>& list);

// text from the 1-based position to its end; a position below 1 counts as 1.
std::string CopyTail(const std::string& text, int64_t position);

}  // namespace tolvane
