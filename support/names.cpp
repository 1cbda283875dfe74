#include "support/names.h"

#include <string>

#include "support/paths.h"

namespace zipkit {

bool WildcardMatch(std::string_view Text, int32_t I, std::string_view Pattern, int32_t J) {
  // Rules that look at the whole text and pattern (they matter on the first call only).
  if (Text.empty()) return Pattern.empty();
  if (J == 1 && (Pattern == "*.*" || Pattern == "*")) return true;
  const size_t i0 = I < 1 ? 0 : static_cast<size_t>(I) - 1;
  const size_t j0 = J < 1 ? 0 : static_cast<size_t>(J) - 1;
  if (Pattern.empty()) return i0 == Text.size();
  if (i0 > Text.size()) {
    // Started past the end of the text: only an exhausted pattern or a final star is left to
    // match, as the star's runs there are empty choices.
    return j0 >= Pattern.size() || (j0 + 1 == Pattern.size() && Pattern[j0] == '*');
  }
  const std::string_view text = i0 < Text.size() ? Text.substr(i0) : std::string_view();
  const std::string_view pattern = j0 < Pattern.size() ? Pattern.substr(j0) : std::string_view();
  // "*" takes runs of any length; on a mismatch return to the last star and let it take one
  // more character. Same answer as trying every run, in O(length of text * length of pattern).
  size_t t = 0, p = 0;
  size_t star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++t;
      ++p;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

namespace {

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace

bool NameMatchesMask(std::string_view Name, std::string_view Mask) {
  const std::string name = UpperAscii(Name);
  const std::string mask = UpperAscii(Mask);
  const std::string mask_folder = FolderPart(mask);
  if (!mask_folder.empty() && !WildcardMatch(FolderPart(name), 1, mask_folder, 1)) return false;
  return WildcardMatch(NamePart(name), 1, NamePart(mask), 1);
}

}  // namespace zipkit
