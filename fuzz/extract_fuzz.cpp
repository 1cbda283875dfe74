// Hostile archives through the whole extraction path: load, then test every item (local header
// checks, decryption, the decoders, CRC-32) into a bit bucket and extract it into a memory
// stream. Failures are expected; crashes, leaks and sanitizer reports are not.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "host/stream.h"
#include "unzip/extract.h"
#include "zip/zip_archive.h"

namespace {

std::string ScratchFile() {
  static const std::string name = "/tmp/zipkit-extract-fuzz-" + std::to_string(getpid()) + ".zip";
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace zipkit;
  const std::string path = ScratchFile();
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(Data, 1, Size, f);
    std::fclose(f);
  }
  try {
    TAbZipArchive archive(path, fmOpenRead | fmShareDenyNone);
    archive.Password = "password";
    archive.VerifyHook = [](TAbZipArchive& A, TAbZipItem& I) { VerifyZipItem(A, I); };
    archive.ExtractToStreamHook = [](TAbZipArchive& A, TAbZipItem& I, TStream* S) {
      ExtractZipItemToStream(A, I, S);
    };
    archive.LoadCatalog();
    for (int32_t i = 0; i < archive.ItemCount() && i < 64; ++i) {
      try {
        archive.VerifyItemAt(i);
      } catch (const std::exception&) {
      }
      try {
        TMemoryStream out;
        archive.UnpackItemToStreamAt(i, &out);
      } catch (const std::exception&) {
      }
    }
  } catch (const std::exception&) {
  }
  return 0;
}
