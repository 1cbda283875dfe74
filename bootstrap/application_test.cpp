#include "bootstrap/application.h"

#include <gtest/gtest.h>

#include <cctype>

namespace zipkit {
namespace {

std::string AsciiLower(const std::string& text) {
  std::string lower = text;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

TEST(Application, TitleFromTheProgramFileName) {
  const struct {
    const char* path;
    const char* title;
  } cases[] = {
      {"C:\\dist\\Setup-ABC.exe", "Setup-abc"},
      {"C:\\dist\\SETUP.NEW-ABC.EXE", "Setup"},  // cut at the first "."
      {"C:\\x.y\\INSTALL.EXE", "Install"},       // only the file name counts
      {"C:iNSTALL", "install"},                  // the first character is kept as it is
      {"\\\\srv\\s\\a.exe", "a"},
      {"C:\\dist\\.exe", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ApplicationTitle(c.path, AsciiLower), c.title) << c.path;
}

TEST(Application, RefusalMessageBytes) {
  const std::string text = kRefusalMessage;
  ASSERT_EQ(text.size(), 89u);
  EXPECT_EQ(text.substr(0, 44), "Installation l\xE4uft bereits! Bitte warten... ");
  EXPECT_EQ(text.substr(44, 2), "\r\r");
  EXPECT_EQ(text.substr(46), "Application already running! Please wait...");
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(std::string(kInstanceMutexName).size(), 14u);
}

TEST(Application, ExceptionTextGetsAFullStopAfterLaterCharacters) {
  const struct {
    const char* message;
    const char* shown;
  } cases[] = {
      {"Invalid data type for 'SystemRoot'", "Invalid data type for 'SystemRoot'"},  // "'" < "."
      {"Cannot create file C:\\X\\m_reseller.bin", "Cannot create file C:\\X\\m_reseller.bin."},
      {"Resource RESNAME not found", "Resource RESNAME not found."},
      {"Done.", "Done."},
      {"Is it?", "Is it?."},  // "?" sorts after "."
      {"Path /", "Path /."},
      {"(x)", "(x)"},
      {"100%", "100%"},
      {"l\xE4uft \xE4", "l\xE4uft \xE4."},  // bytes compare unsigned
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExceptionBoxText(c.message), c.shown) << c.message;
}

}  // namespace
}  // namespace zipkit
