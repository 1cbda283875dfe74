// Paths inside the engine use "\" between folders; the POSIX host turns them into "/" at the
// file-system boundary.
#pragma once

#include <string>

namespace zipkit::host {

inline std::string ToPosixPath(const std::string& path) {
  std::string out = path;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

}  // namespace zipkit::host
