// Resources on POSIX: the embedded arrays linked into the program, plus those registered at run
// time. A resource's "handle" is the address of its record; records are never freed, so a
// handle stays valid for the life of the process.
#include <deque>
#include <mutex>
#include <string>

#include "host/host.h"
#include "host/posix/embedded_resources.h"

namespace zipkit::host {

namespace {

struct TRecord {
  std::string Name;  // upper case
  const uint8_t* Data;
  int32_t Size;
};

// Registered records come first in the search; built-in ones are copied in on first use.
struct TRegistry {
  std::mutex mutex;
  std::deque<TRecord> registered;
  std::deque<TRecord> builtin;
};

std::string UpperAscii(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

TRegistry& Registry() {
  static TRegistry* registry = [] {
    auto* r = new TRegistry;  // never destroyed: handles may be used during shutdown
    for (int32_t i = 0; i < kEmbeddedResourceCount; ++i) {
      const TEmbeddedResource& e = kEmbeddedResources[i];
      r->builtin.push_back({UpperAscii(e.Name), e.Data, e.Size});
    }
    return r;
  }();
  return *registry;
}

const char kMainModule = 0;  // its address identifies the program

}  // namespace

TModule MainInstance() { return const_cast<char*>(&kMainModule); }

TResInfo FindResourceData(TModule Module, const std::string& Name) {
  if (Module != MainInstance()) return 0;  // no other module carries resources here
  const std::string key = UpperAscii(Name);
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (const TRecord& rec : r.registered)
    if (rec.Name == key && (rec.Data != nullptr || rec.Size != 0))
      return reinterpret_cast<TResInfo>(&rec);
  for (const TRecord& rec : r.builtin)
    if (rec.Name == key) return reinterpret_cast<TResInfo>(&rec);
  return 0;
}

TResHandle LoadResourceData(TModule, TResInfo Info) {
  const auto* rec = reinterpret_cast<const TRecord*>(Info);
  return rec != nullptr && rec->Data != nullptr ? Info : 0;
}

const uint8_t* LockResourceData(TResHandle Res) {
  const auto* rec = reinterpret_cast<const TRecord*>(Res);
  return rec != nullptr ? rec->Data : nullptr;
}

int32_t SizeofResourceData(TModule, TResInfo Info) {
  const auto* rec = reinterpret_cast<const TRecord*>(Info);
  return rec != nullptr ? rec->Size : 0;
}

void FreeResourceData(TResHandle) {}

void RegisterResource(const std::string& Name, const uint8_t* Data, int32_t Size) {
  const std::string key = UpperAscii(Name);
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (TRecord& rec : r.registered) {
    if (rec.Name == key) {
      rec.Data = Data;
      rec.Size = Size;
      return;
    }
  }
  r.registered.push_back({key, Data, Size});
}

}  // namespace zipkit::host
