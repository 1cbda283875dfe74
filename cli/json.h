// Just enough JSON for `zipkit list --json`: strings (always valid UTF-8) and numbers.
#pragma once

#include <string>
#include <string_view>

namespace zipkit::cli {

// Text as a JSON string literal: quotes, escapes, and U+FFFD for bytes that are no UTF-8.
std::string JsonString(std::string_view Text);

}  // namespace zipkit::cli
