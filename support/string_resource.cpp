#include "support/string_resource.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "support/errors.h"
#include "support/format.h"

namespace zipkit {

namespace {

const char kReaderTable[] = "ABSRMGR_STRINGS";
const char kEngineTable[] = "AB_STRINGS_ENGLISH";

// The reader's own message ids.
enum : int32_t {
  kStringNotFound = 1,
  kCannotLock = 2,
  kResourceNotFound = 3,
  kCannotOpen = 4,
  kInvalidResource = 5,
};

// Used only when ReaderStrings itself cannot supply its text: while it is being built, or when
// its own table is missing or damaged.
const char* const kFallbackTexts[] = {
    "",
    "String not found: %d",
    "Cannot lock resource",
    "String resource not found: %s",
    "Unable to open string resource: %s",
    "Invalid string resource",
};

// Non-zero while this thread builds ReaderStrings or reads from it, so that a failure inside
// falls back to the built-in texts instead of asking the reader again.
thread_local int t_reader_busy = 0;

std::string ReaderText(int32_t Id) {
  static std::mutex mutex;
  std::string text;
  if (t_reader_busy == 0) {
    ++t_reader_busy;
    try {
      TAbStringResource& reader = ReaderStrings();
      if (reader.HasTable()) {
        std::lock_guard<std::mutex> lock(mutex);
        text = reader.TextOf(Id);
      }
    } catch (const Exception&) {
      text.clear();
    }
    --t_reader_busy;
  }
  if (text.empty()) text = kFallbackTexts[Id];
  return text;
}

[[noreturn]] void RaiseReaderError(int32_t Id) { throw EKroStringResourceError(ReaderText(Id)); }

template <typename Arg>
[[noreturn]] void RaiseReaderError(int32_t Id, const Arg& Value) {
  throw EKroStringResourceError(Format(ReaderText(Id), {Value}));
}

int32_t ReadInt32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 |
                              static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

TAbStringResource::TAbStringResource(host::TModule Instance, const std::string& ResourceName) {
  Attach(Instance, ResourceName);
}

TAbStringResource::~TAbStringResource() { ReleaseTable(); }

void TAbStringResource::Attach(host::TModule Instance, const std::string& ResourceName) {
  ReleaseTable();
  if (!ResourceName.empty()) OpenTable(Instance, ResourceName);
}

void TAbStringResource::OpenTable(host::TModule Instance, const std::string& ResourceName) {
  LoadTable(Instance, ResourceName);
  LockTable();
  const bool valid = size_ >= 4 && std::memcmp(table_, "STR0", 4) == 0;
  UnlockTable();
  if (!valid) RaiseReaderError(kInvalidResource);
}

void TAbStringResource::LoadTable(host::TModule Instance, const std::string& ResourceName) {
  const std::string name = ResourceName.substr(0, 255);
  host::TModule module = Instance;
  host::TResInfo info = host::FindResourceData(module, name);
  if (info == 0) {
    module = host::MainInstance();
    info = host::FindResourceData(module, name);
    if (info == 0) RaiseReaderError(kResourceNotFound, ResourceName);
  }
  const host::TResHandle handle = host::LoadResourceData(module, info);
  if (handle == 0) RaiseReaderError(kCannotOpen, ResourceName);
  resource_ = handle;
  size_ = host::SizeofResourceData(module, info);
  if (size_ < 0) size_ = 0;
}

void TAbStringResource::LockTable() {
  const uint8_t* p = resource_ != 0 ? host::LockResourceData(resource_) : nullptr;
  if (p == nullptr) RaiseReaderError(kCannotLock);
  table_ = p;
}

void TAbStringResource::UnlockTable() { table_ = nullptr; }

void TAbStringResource::ReleaseTable() {
  if (table_ != nullptr) UnlockTable();
  if (resource_ != 0) host::FreeResourceData(resource_);
  resource_ = 0;
  size_ = 0;
}

bool TAbStringResource::FindEntry(int32_t Id, TEntry& Entry) {
  // Entries and texts that would reach beyond the resource count as missing.
  const int64_t fits = size_ >= 8 ? (static_cast<int64_t>(size_) - 8) / 12 : 0;
  int64_t count = size_ >= 8 ? ReadInt32(table_ + 4) : 0;
  if (count > fits) count = fits;
  int64_t low = 0;
  int64_t high = count - 1;
  while (high >= low) {
    const int64_t middle = (low + high) >> 1;
    const uint8_t* p = table_ + 8 + 12 * middle;
    const int32_t id = ReadInt32(p);
    if (id == Id) {
      Entry = {id, ReadInt32(p + 4), ReadInt32(p + 8)};
      if (Entry.Offset >= 0 && Entry.Length >= 0 &&
          static_cast<int64_t>(Entry.Offset) + 2 * static_cast<int64_t>(Entry.Length) <= size_)
        return true;
      break;
    }
    if (id < Id) {
      low = middle + 1;
    } else {
      high = middle - 1;
    }
  }
  if (RaiseOnMissing) RaiseReaderError(kStringNotFound, Id);
  return false;
}

std::u16string TAbStringResource::UnitsOf(const TEntry& Entry) const {
  std::u16string units(static_cast<size_t>(Entry.Length), u'\0');
  const uint8_t* p = table_ + Entry.Offset;
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
  return units;
}

std::string TAbStringResource::TextOf(int32_t Id) {
  LockTable();
  std::string text;
  try {
    TEntry entry;
    if (FindEntry(Id, entry)) {
      const std::u16string units = UnitsOf(entry);
      text = host::WideToAnsi(units.data(), static_cast<int32_t>(units.size()));
    }
  } catch (...) {
    UnlockTable();
    throw;
  }
  UnlockTable();
  return text;
}

char* TAbStringResource::CopyText(int32_t Id, char* Buffer, int32_t BufferSize) {
  if (Buffer == nullptr || BufferSize < 1) return Buffer;
  LockTable();
  size_t written = 0;
  try {
    TEntry entry;
    if (FindEntry(Id, entry)) {
      const std::u16string units = UnitsOf(entry);
      // Every code unit converts to at least one byte, so no more than BufferSize - 1 units
      // can fit; shorten one unit at a time from there until the text and its zero fit.
      int32_t n = std::min(entry.Length, BufferSize - 1);
      std::string text = host::WideToAnsi(units.data(), n);
      while (text.size() >= static_cast<size_t>(BufferSize)) {
        --n;
        text = host::WideToAnsi(units.data(), n);
      }
      written = text.size();
      std::memcpy(Buffer, text.data(), written);
    }
  } catch (...) {
    UnlockTable();
    throw;
  }
  UnlockTable();
  Buffer[written] = '\0';
  return Buffer;
}

TAbStringResource& ReaderStrings() {
  // Built without a table first, so that a failure to attach its own table can be reported
  // with the built-in texts instead of re-entering this initialisation.
  static TAbStringResource& reader = []() -> TAbStringResource& {
    static TAbStringResource instance(host::MainInstance(), "");
    ++t_reader_busy;
    try {
      instance.Attach(host::MainInstance(), kReaderTable);
    } catch (const EKroStringResourceError&) {
      // Left without a table: its texts come from the fallbacks.
    }
    --t_reader_busy;
    return instance;
  }();
  return reader;
}

TAbStringResource& EngineStrings() {
  ReaderStrings();  // made first, so destroyed last
  static TAbStringResource engine(host::MainInstance(), kEngineTable);
  return engine;
}

}  // namespace zipkit
