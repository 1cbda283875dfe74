#include "bootstrap/form_layout.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "host/exceptions.h"

namespace zipkit {
namespace {

TEST(FormLayout, ParsesSectionsValuesAndComments) {
  const TFormLayout layout = TFormLayout::Parse(
      "# comment\r\n[Form]\r\nCaption = Two  words \r\nWidth=-11\n\n  [Part]\nEmpty=\nSet=a, b,c\n"
      "Flag=True\nOff=False");
  ASSERT_EQ(layout.Sections.size(), 2u);
  EXPECT_EQ(layout.Text("Form", "Caption"), "Two  words");
  EXPECT_EQ(layout.Integer("Form", "Width"), -11);
  EXPECT_EQ(layout.Text("Part", "Empty"), "");
  EXPECT_TRUE(layout.Names("Part", "Empty").empty());
  EXPECT_EQ(layout.Names("Part", "Set"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(layout.Boolean("Part", "Flag"));
  EXPECT_FALSE(layout.Boolean("Part", "Off"));
  EXPECT_TRUE(layout.Has("Part", "Off"));
  EXPECT_FALSE(layout.Has("Form", "Off"));  // keys belong to their section
}

TEST(FormLayout, RejectsMalformedTextAndValues) {
  for (const char* text : {"Key=before any section", "[S]\nno equals sign", "[S]\n=value", "[]"}) {
    EXPECT_THROW(TFormLayout::Parse(text), Exception) << text;
  }
  const TFormLayout layout =
      TFormLayout::Parse("[S]\nN=12x\nBig=99999999999\nB=yes\nSet=a,,b\nTrail=a,");
  EXPECT_THROW(layout.Integer("S", "N"), Exception);
  EXPECT_THROW(layout.Integer("S", "Big"), Exception);
  EXPECT_THROW(layout.Integer("S", "Missing"), Exception);
  EXPECT_THROW(layout.Boolean("S", "B"), Exception);
  EXPECT_THROW(layout.Names("S", "Set"), Exception);
  EXPECT_THROW(layout.Names("S", "Trail"), Exception);
  EXPECT_THROW(layout.Text("T", "N"), Exception);
}

// The layout the program carries describes the install window as it must look.
TEST(FormLayout, InstallWindowResource) {
  std::ifstream in(ZIPKIT_SOURCE_DIR "/resources/install_form.layout", std::ios::binary);
  ASSERT_TRUE(in);
  const TFormLayout layout = TFormLayout::Parse(
      std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  EXPECT_EQ(layout.Text("InstallForm", "Class"), "TInstallForm");
  EXPECT_EQ(layout.Text("InstallForm", "Caption"), "Install");
  EXPECT_EQ(layout.Integer("InstallForm", "ClientWidth"), 287);
  EXPECT_EQ(layout.Integer("InstallForm", "ClientHeight"), 70);
  EXPECT_EQ(layout.Text("InstallForm", "BorderStyle"), "bsSingle");
  EXPECT_TRUE(layout.Names("InstallForm", "BorderIcons").empty());
  EXPECT_EQ(layout.Text("InstallForm", "Position"), "poScreenCenter");
  EXPECT_EQ(layout.Text("InstallForm", "FontName"), "MS Sans Serif");
  EXPECT_EQ(layout.Integer("InstallForm", "FontHeight"), -11);
  EXPECT_EQ(layout.Integer("InstallForm", "PixelsPerInch"), 96);
  EXPECT_EQ(layout.Integer("Label1", "Left"), 16);
  EXPECT_EQ(layout.Integer("Label1", "Top"), 8);
  EXPECT_EQ(layout.Text("Label1", "Caption"), "Please wait...");
  EXPECT_TRUE(layout.Boolean("Label1", "AutoSize"));
  EXPECT_FALSE(layout.Boolean("Timer1", "Enabled"));
  EXPECT_EQ(layout.Integer("Timer1", "Interval"), 10000);
  EXPECT_FALSE(layout.Boolean("AbZipKit1", "AutoSave"));
  EXPECT_FALSE(layout.Boolean("AbZipKit1", "DOSMode"));
  EXPECT_TRUE(layout.Names("AbZipKit1", "ExtractOptions").empty());
}

}  // namespace
}  // namespace zipkit
