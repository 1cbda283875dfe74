// Loads arbitrary bytes as a ZIP archive, from a file (with two image volumes beside it, so that
// spanned sets are followed) and from a memory stream, then walks the items. Every failure must
// be one of the engine's exceptions; crashes, hangs and sanitizer reports are findings.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "zip/zip_archive.h"

namespace {

using namespace zipkit;

std::string Folder() {
  static const std::string folder = [] {
    // In memory when the system offers it: on a disk every rewrite of an input is flushed.
    char pattern[] = "/dev/shm/zipkit_fuzz_XXXXXX";
    char fallback[] = "/tmp/zipkit_fuzz_XXXXXX";
    if (mkdtemp(pattern) != nullptr) return std::string(pattern);
    if (mkdtemp(fallback) == nullptr) std::abort();
    return std::string(fallback);
  }();
  return folder;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

void Walk(TAbZipArchive& archive) {
  for (int32_t i = 0; i < archive.ItemCount(); ++i) {
    const TAbZipItem* item = archive.ZipItem(i);
    const std::string name = item->StoredName();
    archive.Items.IndexOfName(name);
    item->MatchesMask("*.*");
    item->ExtraData();
  }
  archive.ArchiveComment();
}

void Load(TAbZipArchive& archive) {
  try {
    archive.LoadCatalog();
  } catch (const Exception&) {
  }
  Walk(archive);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 20)) return 0;
  const std::string base = Folder() + "/in";
  WriteFile(base + ".zip", data, size);
  // The halves of the input as the images of volumes 1 and 2 (.z01 and .z02).
  WriteFile(base + ".z01", data, size / 2);
  WriteFile(base + ".z02", data + size / 2, size - size / 2);

  {
    TAbZipArchive archive(base + ".zip", fmOpenRead | fmShareDenyNone);
    Load(archive);
  }
  {
    TAbZipArchive archive(base + ".zip", fmOpenRead | fmShareDenyNone);
    auto memory = std::make_unique<TMemoryStream>();
    memory->WriteBuffer(data, static_cast<int32_t>(size));
    archive.Stream = std::move(memory);
    Load(archive);
  }
  return 0;
}
