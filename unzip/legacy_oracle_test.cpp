// The test encoders are checked against an independent decoder: Info-ZIP UnZip tests archives
// holding their output (it decodes shrink and implode; no tool at hand decodes reduce). This
// keeps the encoders, and so the round trips that prove our decoders, honest.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "unzip/testing/legacy_check.h"
#include "unzip/testing/mini_zip.h"
#include "unzip/testing/test_data.h"

namespace zipkit::legacy {
namespace {

using testing::DataKind;

bool HaveUnzip() { return std::system("unzip -v >/dev/null 2>&1") == 0; }

// Writes a one-entry archive and asks UnZip to test it.
bool UnzipAccepts(const std::string& Label, const testing::Codec& C,
                  const std::vector<uint8_t>& Data, const std::vector<uint8_t>& Packed) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("zipkit_legacy_oracle_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto path = dir / (Label + ".zip");
  const auto zip =
      testing::WriteSingleEntryZip("DATA.BIN", static_cast<uint16_t>(C.method), C.Flags(), Packed,
                                   testing::Crc32(Data), static_cast<uint32_t>(Data.size()));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(zip.data()), static_cast<std::streamsize>(zip.size()));
  const int rc = std::system(("unzip -tqq '" + path.string() + "' >/dev/null 2>&1").c_str());
  std::filesystem::remove_all(dir);
  return rc == 0;
}

TEST(LegacyOracle, UnzipAcceptsTheTestEncodersOutput) {
  if (!HaveUnzip()) GTEST_SKIP() << "Info-ZIP unzip is not installed";
  struct Case {
    const char* label;
    testing::Codec codec;
    testing::ShrinkOptions shrink;
  };
  // Not here: a shrunk stream that goes on with a full dictionary and no clear. PKZIP always
  // clears a full dictionary, and UnZip 6.0 calls the codes after the fill invalid; the method
  // defines them (no new codes, the old ones stay), and the round trips test that case.
  const Case cases[] = {
      {"shrink", {1}, {true, 0, false}},      {"shrink-clear500", {1}, {true, 500, false}},
      {"shrink-early", {1}, {true, 0, true}}, {"implode4k2t", {6, false, false}, {}},
      {"implode4k3t", {6, false, true}, {}},  {"implode8k2t", {6, true, false}, {}},
      {"implode8k3t", {6, true, true}, {}},
  };
  for (const Case& c : cases)
    for (DataKind kind : {DataKind::kText, DataKind::kRuns, DataKind::kRandom}) {
      const auto data = testing::MakeData(kind, 200000, 21);
      const auto packed =
          c.codec.method == 1 ? testing::Shrink(data, c.shrink) : testing::Encode(c.codec, data);
      const std::string label = std::string(c.label) + "-" + testing::Name(kind);
      EXPECT_TRUE(UnzipAccepts(label, c.codec, data, packed)) << label;
      // And ours decodes the same stream.
      EXPECT_TRUE(testing::DecodeFast(c.codec, packed, static_cast<int64_t>(data.size())).bytes ==
                  data)
          << label;
    }
}

}  // namespace
}  // namespace zipkit::legacy
