#include "support/names.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace zipkit {
namespace {

// The matching rules written out as plain recursion, positions from 1.
bool ReferenceMatch(const std::string& t, size_t i, const std::string& p, size_t j) {
  if (t.empty()) return p.empty();
  if (j == 1 && (p == "*.*" || p == "*")) return true;
  if (p.empty()) return i == t.size() + 1;
  while (true) {
    if (i > t.size() && j > p.size()) return true;
    if (j > p.size()) return false;
    if (p[j - 1] == '*') {
      if (j == p.size()) return true;
      for (size_t k = i; k <= t.size() + 1; ++k)
        if (ReferenceMatch(t, k, p, j + 1)) return true;
      return false;
    }
    if (p[j - 1] == '?' && i <= t.size()) {
      ++i, ++j;
      continue;
    }
    if (i > t.size() || t[i - 1] != p[j - 1]) return false;
    ++i, ++j;
  }
}

TEST(WildcardMatch, Table) {
  struct Case {
    const char* text;
    const char* pattern;
    bool want;
  };
  const Case cases[] = {
      {"README", "*.*", true},   {"README", "*.TXT", false}, {"ABC", "A?C", true},
      {"AC", "A?C", false},      {"ABBC", "A?C", false},     {"A", "A*", true},
      {"", "*", false},          {"", "", true},             {"A", "", false},
      {"A.", "*.", true},        {"A.B", "*.", false},       {"a", "A", false},
      {"A.TXT", "*.TXT", true},  {"X.TXT.BAK", "*.TXT", false}, {"AB", "*B*", true},
      {"\xE4", "?", true},       {"\xE4\xE5", "\xE4*", true},
  };
  for (const Case& c : cases) EXPECT_EQ(WildcardMatch(c.text, 1, c.pattern, 1), c.want) << c.text << " ~ " << c.pattern;
}

TEST(WildcardMatch, AgreesWithTheRulesOnRandomCases) {
  std::mt19937 rng(7);
  const char alphabet[] = "ab.*?";
  auto random_string = [&](int max, int letters) {
    std::string s(rng() % (max + 1), ' ');
    for (char& c : s) c = alphabet[rng() % letters];
    return s;
  };
  for (int n = 0; n < 20000; ++n) {
    const std::string text = random_string(7, 3);
    const std::string pattern = random_string(6, 5);
    const int i = 1 + static_cast<int>(rng() % (text.size() + 2));
    const int j = 1 + static_cast<int>(rng() % (pattern.size() + 1));
    ASSERT_EQ(WildcardMatch(text, i, pattern, j), ReferenceMatch(text, i, pattern, j))
        << "'" << text << "' " << i << " '" << pattern << "' " << j;
  }
}

TEST(WildcardMatch, ManyStarsOnLongTextsFinish) {
  const std::string text(20000, 'a');
  EXPECT_FALSE(WildcardMatch(text, 1, "*a*a*a*a*a*a*a*a*a*a*a*a*b", 1));
  EXPECT_TRUE(WildcardMatch(text + "b", 1, "*a*a*a*a*a*a*a*a*a*a*a*a*b", 1));
}

TEST(NameMatchesMask, Table) {
  struct Case {
    const char* name;
    const char* mask;
    bool want;
  };
  const Case cases[] = {
      {"docs\\readme.txt", "*.txt", true},
      {"docs\\readme.txt", "DOCS\\*.TXT", true},
      {"docs\\readme.txt", "OTHER\\*.TXT", false},
      {"docs\\", "*.*", false},
      {"docs\\", "docs\\", true},
      {"dir\\a.txt", "DIR\\*.TXT", true},
      {"a.txt", "DIR\\*.TXT", false},
      {"dir\\sub\\a.txt", "DIR\\*.TXT", false},
      {"dir\\a.txt", "*\\*.TXT", true},
      {"dir\\sub\\a.txt", "*\\*.TXT", true},
      {"a.txt", "*\\*.TXT", false},
      {"SETUP.EXE", "setup.exe", true},
      {"c:x.txt", "C:*.txt", true},
      {"\xE4.txt", "\xC4.TXT", false},  // only ASCII letters are folded
      {"", "*.*", false},
      {"a", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(NameMatchesMask(c.name, c.mask), c.want) << c.name << " ~ " << c.mask;
}

}  // namespace
}  // namespace zipkit
