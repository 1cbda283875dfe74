// Resources on Windows: RCDATA resources of a module, found, loaded and locked by the system.
// Resources registered at run time are searched first; their handles carry a set low bit,
// which no handle of the system has.
#include <windows.h>

#include <deque>
#include <mutex>
#include <string>

#include "host/host.h"

namespace zipkit::host {

namespace {

struct TRecord {
  std::string Name;  // upper case
  const uint8_t* Data;
  int32_t Size;
};

struct TRegistry {
  std::mutex mutex;
  std::deque<TRecord> records;
};

TRegistry& Registry() {
  static TRegistry* registry = new TRegistry;  // never destroyed: handles outlive main
  return *registry;
}

std::string UpperAscii(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool IsRegistered(intptr_t handle) { return (handle & 1) != 0; }
const TRecord* RecordOf(intptr_t handle) { return reinterpret_cast<const TRecord*>(handle & ~intptr_t{1}); }

}  // namespace

TModule MainInstance() { return GetModuleHandleA(nullptr); }

TResInfo FindResourceData(TModule Module, const std::string& Name) {
  if (Module == MainInstance()) {
    const std::string key = UpperAscii(Name);
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (const TRecord& rec : r.records)
      if (rec.Name == key && (rec.Data != nullptr || rec.Size != 0))
        return reinterpret_cast<TResInfo>(&rec) | 1;
  }
  return reinterpret_cast<TResInfo>(
      FindResourceA(static_cast<HMODULE>(Module), Name.c_str(), MAKEINTRESOURCEA(10)));
}

TResHandle LoadResourceData(TModule Module, TResInfo Info) {
  if (Info == 0) return 0;
  if (IsRegistered(Info)) return RecordOf(Info)->Data != nullptr ? Info : 0;
  return reinterpret_cast<TResHandle>(
      LoadResource(static_cast<HMODULE>(Module), reinterpret_cast<HRSRC>(Info)));
}

const uint8_t* LockResourceData(TResHandle Res) {
  if (Res == 0) return nullptr;
  if (IsRegistered(Res)) return RecordOf(Res)->Data;
  return static_cast<const uint8_t*>(LockResource(reinterpret_cast<HGLOBAL>(Res)));
}

int32_t SizeofResourceData(TModule Module, TResInfo Info) {
  if (Info == 0) return 0;
  if (IsRegistered(Info)) return RecordOf(Info)->Size;
  return static_cast<int32_t>(SizeofResource(static_cast<HMODULE>(Module), reinterpret_cast<HRSRC>(Info)));
}

void FreeResourceData(TResHandle Res) {
  if (Res != 0 && !IsRegistered(Res)) FreeResource(reinterpret_cast<HGLOBAL>(Res));
}

void RegisterResource(const std::string& Name, const uint8_t* Data, int32_t Size) {
  const std::string key = UpperAscii(Name);
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (TRecord& rec : r.records) {
    if (rec.Name == key) {
      rec.Data = Data;
      rec.Size = Size;
      return;
    }
  }
  r.records.push_back({key, Data, Size});
}

}  // namespace zipkit::host
