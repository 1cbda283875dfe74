#include "bootstrap/form_layout.h"

#include <charconv>

#include "host/exceptions.h"

namespace zipkit {

namespace {

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

[[noreturn]] void Malformed(const std::string& Section, const std::string& Key,
                            const std::string& What) {
  throw Exception("Layout value " + Section + "." + Key + " " + What);
}

}  // namespace

TFormLayout TFormLayout::Parse(const std::string& Text) {
  TFormLayout layout;
  size_t start = 0;
  int32_t line_number = 0;
  while (start < Text.size()) {
    size_t end = Text.find('\n', start);
    if (end == std::string::npos) end = Text.size();
    const std::string line = Trim(Text.substr(start, end - start));
    start = end + 1;
    ++line_number;
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']' && line.size() > 2) {
      layout.Sections.push_back({line.substr(1, line.size() - 2), {}});
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0 || layout.Sections.empty())
      throw Exception("Layout line " + std::to_string(line_number) + " is malformed");
    // Values keep their inner blanks ("MS Sans Serif") and may be empty.
    layout.Sections.back().Values.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
  }
  return layout;
}

const std::string* TFormLayout::Find(const std::string& Section, const std::string& Key) const {
  for (const TSection& section : Sections) {
    if (section.Name != Section) continue;
    for (const auto& [key, value] : section.Values)
      if (key == Key) return &value;
  }
  return nullptr;
}

bool TFormLayout::Has(const std::string& Section, const std::string& Key) const {
  return Find(Section, Key) != nullptr;
}

std::string TFormLayout::Text(const std::string& Section, const std::string& Key) const {
  const std::string* value = Find(Section, Key);
  if (!value) Malformed(Section, Key, "is missing");
  return *value;
}

int32_t TFormLayout::Integer(const std::string& Section, const std::string& Key) const {
  const std::string value = Text(Section, Key);
  int32_t result = 0;
  const char* last = value.data() + value.size();
  const auto [ptr, ec] = std::from_chars(value.data(), last, result);
  if (value.empty() || ec != std::errc() || ptr != last)
    Malformed(Section, Key, "is not an integer");
  return result;
}

bool TFormLayout::Boolean(const std::string& Section, const std::string& Key) const {
  const std::string value = Text(Section, Key);
  if (value == "True") return true;
  if (value == "False") return false;
  Malformed(Section, Key, "is not True or False");
}

std::vector<std::string> TFormLayout::Names(const std::string& Section,
                                            const std::string& Key) const {
  const std::string value = Text(Section, Key);
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= value.size() && !value.empty()) {
    size_t comma = value.find(',', start);
    if (comma == std::string::npos) comma = value.size();
    const std::string name = Trim(value.substr(start, comma - start));
    if (name.empty()) Malformed(Section, Key, "has an empty name");
    names.push_back(name);
    start = comma + 1;
  }
  return names;
}

}  // namespace zipkit
