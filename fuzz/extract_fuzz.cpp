// Hostile archives through the whole extraction path: load from a memory stream and from a file
// (with two image volumes beside it, so that spanned sets are followed). From memory every item
// is tested (local header checks, decryption, every decoder, CRC-32, into a bit bucket) and
// extracted into a counting sink; from the file into a memory stream, and the first items to
// files below a base folder, with their stored paths. Once without a password and, when an item is encrypted, once
// with one and a handler that offers others.
//
// Failures of items are expected. Findings are: crashes, sanitizer reports, an exception that is
// not the engine's or the host's, running out of memory, a file written outside the base folder,
// and a memory target sized ahead beyond what the archive's bytes can give.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <string>

#include "host/exceptions.h"
#include "host/stream.h"
#include "support/bit_bucket.h"
#include "unzip/extract.h"
#include "zip/zip_archive.h"

namespace {

using namespace zipkit;
namespace fs = std::filesystem;

constexpr int32_t kMaxItems = 64;       // items tested and extracted to streams per pass
constexpr int32_t kMaxFileItems = 8;    // items extracted to files per pass
constexpr int64_t kMaxHeadStart = 64 << 20;

void Expect(bool Condition, const char* What) {
  if (!Condition) {
    std::fprintf(stderr, "extraction finding: %s\n", What);
    std::abort();
  }
}

const fs::path& Folder() {
  static const fs::path folder = [] {
    // In memory when the system offers it: on a disk every rewrite of an input is flushed.
    char pattern[] = "/dev/shm/zipkit_extract_fuzz_XXXXXX";
    char fallback[] = "/tmp/zipkit_extract_fuzz_XXXXXX";
    if (mkdtemp(pattern) != nullptr) return fs::path(pattern);
    if (mkdtemp(fallback) == nullptr) std::abort();
    return fs::path(fallback);
  }();
  return folder;
}

void WriteFile(const fs::path& Path, const uint8_t* Data, size_t Size) {
  std::FILE* f = std::fopen(Path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (Size) std::fwrite(Data, 1, Size, f);
  std::fclose(f);
}

// Takes everything and keeps only the count: extraction output that is never stored.
class TCountingSink : public TStream {
 public:
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t Count) override {
    if (Count > 0) size_ += Count;
    position_ = size_;
    return std::max(Count, 0);
  }
  int32_t Seek(int32_t Offset, uint16_t Origin) override {
    const int64_t base = Origin == soFromBeginning ? 0 : Origin == soFromCurrent ? position_ : size_;
    const int64_t pos = base + Offset;
    if (Origin > soFromEnd || pos < 0 || pos > size_) return -1;
    position_ = pos;
    return static_cast<int32_t>(pos);
  }
  int64_t Written() const { return size_; }

 private:
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// Runs one operation; every failure must come as one of our exceptions.
template <typename F>
bool Try(F&& Operation) {
  try {
    Operation();
    return true;
  } catch (const std::bad_alloc&) {
    Expect(false, "out of memory");
  } catch (const Exception&) {
  }
  return false;
}

void Wire(TAbZipArchive& Archive, bool WithPassword) {
  Archive.VerifyHook = [](TAbZipArchive& A, TAbZipItem& I) { VerifyZipItem(A, I); };
  Archive.ExtractToStreamHook = [](TAbZipArchive& A, TAbZipItem& I, TStream* S) {
    ExtractZipItemToStream(A, I, S);
  };
  Archive.ExtractHook = [](TAbZipArchive& A, TAbZipItem& I, const std::string& N) {
    ExtractZipItemToFile(A, I, N);
  };
  if (!WithPassword) return;
  Archive.Password = "password";
  // Each retry is offered the next of a few common passwords.
  Archive.OnNeedPassword = [n = 0](TObject*, std::string& NewPassword) mutable {
    static const char* const kOthers[] = {"secret", "test", ""};
    NewPassword = kOthers[n++ % 3];
  };
}

// Returns true when an item is encrypted (worth a second pass with passwords). From memory the
// items are tested and extracted to a counting sink; from the file, extracted to a memory stream
// and, the first of them, to files.
bool ExtractAll(TAbZipArchive& Archive, bool FromFile) {
  if (!Try([&] { Archive.LoadCatalog(); })) return false;
  bool encrypted = false;
  const int32_t count = std::min(Archive.ItemCount(), kMaxItems);
  for (int32_t i = 0; i < count; ++i) {
    encrypted = encrypted || Archive.ZipItem(i)->Encrypted();
    if (!FromFile) {
      Try([&] { Archive.VerifyItemAt(i); });
      TCountingSink sink;
      Try([&] { Archive.UnpackItemToStreamAt(i, &sink); });
      continue;
    }
    // A memory target is sized ahead only as far as the archive's bytes can honestly give.
    TMemoryStream memory;
    const int64_t archive_size = Archive.Stream ? Archive.Stream->Size() : 0;
    Try([&] { Archive.UnpackItemToStreamAt(i, &memory); });
    const int64_t head_start = std::min<int64_t>(kMaxHeadStart, 1032 * archive_size + 65536);
    Expect(memory.Size() <= std::max<int64_t>(memory.Position(), head_start),
           "memory target sized beyond what the archive can fill");
  }
  if (!FromFile) return encrypted;

  const fs::path base = Folder() / "out";
  fs::create_directories(base);
  Archive.SetBaseDirectory(base.string());
  Archive.ExtractOptions = {eoCreateDirs, eoRestorePath};
  for (int32_t i = 0; i < std::min(Archive.ItemCount(), kMaxFileItems); ++i)
    Try([&] { Archive.ExtractByIndex(i, ""); });
  // Nothing may appear beside the base folder.
  for (const auto& entry : fs::directory_iterator(Folder())) {
    const std::string name = entry.path().filename().string();
    Expect(name == "out" || name.rfind("in.z", 0) == 0, "a file was written outside the base");
  }
  fs::remove_all(base);
  return encrypted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size > (1 << 20)) return 0;
  const fs::path zip = Folder() / "in.zip";
  WriteFile(zip, Data, Size);
  WriteFile(Folder() / "in.z01", Data, Size / 2);
  WriteFile(Folder() / "in.z02", Data + Size / 2, Size - Size / 2);

  bool encrypted = false;
  for (const bool with_password : {false, true}) {
    if (with_password && !encrypted) break;
    {
      // From memory: spanned sets cannot be followed there and must fail cleanly.
      TAbZipArchive archive(zip.string(), fmOpenRead | fmShareDenyNone);
      auto memory = std::make_unique<TMemoryStream>();
      if (Size) memory->WriteBuffer(Data, static_cast<int32_t>(Size));
      archive.Stream = std::move(memory);
      Wire(archive, with_password);
      encrypted = ExtractAll(archive, false) || encrypted;
    }
    {
      TAbZipArchive archive(zip.string(), fmOpenRead | fmShareDenyNone);
      Wire(archive, with_password);
      encrypted = ExtractAll(archive, true) || encrypted;
    }
  }
  return 0;
}
