#include "host/stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "host/exceptions.h"

namespace zipkit {
namespace {

TEST(MemoryStream, WriteSeekReadAndGrow) {
  TMemoryStream s;
  EXPECT_EQ(s.Write("hello", 5), 5);
  EXPECT_EQ(s.Size(), 5);
  EXPECT_EQ(s.Seek(1, soFromBeginning), 1);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 4);
  EXPECT_STREQ(buf, "ello");
  EXPECT_EQ(s.Seek(-2, soFromEnd), 3);
  EXPECT_EQ(s.Write("LOWORLD", 7), 7);
  EXPECT_EQ(s.Size(), 10);
  EXPECT_EQ(std::memcmp(s.Memory(), "helLOWORLD", 10), 0);
  EXPECT_EQ(s.Seek(-1, soFromBeginning), -1);
  EXPECT_EQ(s.Position(), 10);  // a failed seek leaves the position
}

TEST(MemoryStream, ReadBufferRaisesOnShortRead) {
  TMemoryStream s;
  s.WriteBuffer("abc", 3);
  s.SetPosition(1);
  char buf[4];
  EXPECT_THROW(s.ReadBuffer(buf, 3), EReadError);
}

TEST(FileStream, CreateWriteReopenAndErrors) {
  const auto dir = std::filesystem::temp_directory_path() / "zipkit_stream_test";
  std::filesystem::create_directories(dir);
  const std::string name = (dir / "f.bin").string();
  {
    TFileStream f(name, fmCreate);
    f.WriteBuffer("0123456789", 10);
    EXPECT_EQ(f.Size(), 10);
    f.SetSize(4);
    EXPECT_EQ(f.Size(), 4);
  }
  {
    TFileStream f(name, fmOpenRead | fmShareDenyNone);
    char buf[10] = {};
    EXPECT_EQ(f.Read(buf, 10), 4);
    EXPECT_STREQ(buf, "0123");
    EXPECT_EQ(f.Write("x", 1), 0);  // read-only
  }
  try {
    TFileStream f((dir / "missing" / "x").string(), fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file " + (dir / "missing" / "x").string());
  }
  EXPECT_THROW(TFileStream((dir / "missing" / "x").string(), fmCreate), EFCreateError);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zipkit
