// The install window's layout resource: the window and each of its parts is a section
// "[Name]" followed by "Key=Value" lines; "#" starts a comment line. The program builds its
// window from it, so the layout lives in one text file (resources/install_form.layout).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zipkit {

class TFormLayout {
 public:
  struct TSection {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Values;
  };

  // Raises Exception naming the line when a line is neither a section, a value nor a comment.
  static TFormLayout Parse(const std::string& Text);

  bool Has(const std::string& Section, const std::string& Key) const;
  // The getters raise Exception when the section or key is missing or the value malformed.
  std::string Text(const std::string& Section, const std::string& Key) const;
  int32_t Integer(const std::string& Section, const std::string& Key) const;
  bool Boolean(const std::string& Section, const std::string& Key) const;
  // A set written as names separated by ","; empty for an empty value.
  std::vector<std::string> Names(const std::string& Section, const std::string& Key) const;

  std::vector<TSection> Sections;

 private:
  const std::string* Find(const std::string& Section, const std::string& Key) const;
};

}  // namespace zipkit
