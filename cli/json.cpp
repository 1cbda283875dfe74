#include "cli/json.h"

#include <cstdio>

namespace zipkit::cli {

namespace {

// The length of the valid UTF-8 sequence at Text[i], or 0.
size_t Utf8Length(std::string_view Text, size_t i) {
  const auto b = static_cast<unsigned char>(Text[i]);
  size_t n;
  uint32_t cp;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) n = 2, cp = b & 0x1F;
  else if (b >= 0xE0 && b <= 0xEF) n = 3, cp = b & 0x0F;
  else if (b >= 0xF0 && b <= 0xF4) n = 4, cp = b & 0x07;
  else return 0;
  if (i + n > Text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(Text[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  // Overlong forms, surrogates and code points beyond U+10FFFF are invalid.
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

}  // namespace

std::string JsonString(std::string_view Text) {
  std::string out = "\"";
  for (size_t i = 0; i < Text.size();) {
    const auto b = static_cast<unsigned char>(Text[i]);
    const size_t n = Utf8Length(Text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(Text.substr(i, n));
      i += n;
      continue;
    }
    switch (b) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (b < 0x20 || b == 0x7F) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", b);
          out += esc;
        } else {
          out += static_cast<char>(b);
        }
    }
    ++i;
  }
  return out + "\"";
}

}  // namespace zipkit::cli
