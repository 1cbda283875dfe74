// Which archive items an operation touches: wildcard masks against stored names.
#pragma once

#include <cstdint>
#include <string_view>

namespace zipkit {

// Wildcard match of Text from position I against Pattern from position J (positions count from
// 1). "?" matches one character, "*" any run including the empty one, every other character
// only itself (case-sensitive). On the first call "*.*" and "*" as the whole pattern match any
// non-empty text; an empty text matches only the empty pattern.
bool WildcardMatch(std::string_view Text, int32_t I, std::string_view Pattern, int32_t J);

// Whether an item name matches a file mask, ignoring ASCII letter case. The folder parts
// (through the last "\" or ":") must match when the mask has one; the name parts always.
bool NameMatchesMask(std::string_view Name, std::string_view Mask);

}  // namespace zipkit
