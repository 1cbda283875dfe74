#include "support/format.h"

#include <gtest/gtest.h>

#include <string>

namespace zipkit {
namespace {

TEST(Format, Placeholders) {
  const std::string name = "file.tmp";
  struct Case {
    std::string got;
    const char* want;
  };
  const Case cases[] = {
      {Format("VMS: Failed to read %d bytes from swap file %s", {4096, name}),
       "VMS: Failed to read 4096 bytes from swap file file.tmp"},
      {Format("PKBACK# %3.3d", {1}), "PKBACK# 001"},
      {Format("PKBACK# %3.3d", {1234}), "PKBACK# 1234"},
      {Format("z%.2d", {7}), "z07"},
      {Format("[%5d|%-5d]", {42, 42}), "[   42|42   ]"},
      {Format("%d", {INT32_MIN}), "-2147483648"},
      {Format("%.3d", {-5}), "-005"},
      {Format("CRC: %x", {uint32_t{0xCBF43926}}), "CRC: CBF43926"},
      {Format("%x", {-1}), "FFFFFFFF"},
      {Format("%d|%d|%u", {size_t{7}, int64_t{-9}, uint16_t{65535}}), "7|-9|65535"},
      {Format("%.3s|%4s", {"abcdef", "ab"}), "abc|  ab"},
      {Format("100%% done", {}), "100% done"},
      {Format("%d and %d", {1}), "1 and %d"},  // missing argument: copied unchanged
      {Format("%s", {5}), "%s"},              // mismatched argument: copied unchanged
      {Format("%q %", {1}), "%q %"},           // unknown type, lone percent at the end
      {Format("%99999999d", {1}).size() == 4096 ? "capped" : "not capped", "capped"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

}  // namespace
}  // namespace zipkit
