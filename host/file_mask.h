// The file system's wildcard rules, shared by both hosts.
#pragma once

#include <string_view>

namespace zipkit::host {

// "*" matches any run, "?" one character; "*.*" matches every name; a mask ending in ".*" also
// matches the name without that extension. FoldCase compares ASCII letters ignoring case.
bool MatchMask(std::string_view Name, std::string_view Mask, bool FoldCase);

}  // namespace zipkit::host
