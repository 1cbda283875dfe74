#include "host/file_mask.h"

namespace zipkit::host {

namespace {

char Fold(char c, bool fold) { return fold && c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// Glob match in O(length of name * length of mask): on a mismatch, return to the last star and
// let it take one more character.
bool Glob(std::string_view name, std::string_view mask, bool fold) {
  size_t n = 0, m = 0;
  size_t star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      star = m++;
      mark = n;
    } else if (m < mask.size() && (mask[m] == '?' || Fold(mask[m], fold) == Fold(name[n], fold))) {
      ++n;
      ++m;
    } else if (star != std::string_view::npos) {
      m = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace

bool MatchMask(std::string_view Name, std::string_view Mask, bool FoldCase) {
  if (Mask == "*.*" || Mask == "*") return true;
  if (Glob(Name, Mask, FoldCase)) return true;
  return Mask.size() >= 2 && Mask.substr(Mask.size() - 2) == ".*" &&
         Name.find('.') == std::string_view::npos && Glob(Name, Mask.substr(0, Mask.size() - 2), FoldCase);
}

}  // namespace zipkit::host
