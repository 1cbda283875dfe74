// Wildcard enumeration on Windows: FindFirstFileA / FindNextFileA, keeping the entries whose
// special attributes are all among the ones asked for.
#include <windows.h>

#include "host/file_mask.h"
#include "host/host.h"

namespace zipkit::host {

uint32_t DosStampOfFileTime(const FILETIME& utc);  // files.cpp

struct TFindFiles::State {
  HANDLE handle = INVALID_HANDLE_VALUE;
  int32_t wanted = 0;
  ~State() {
    if (handle != INVALID_HANDLE_VALUE) FindClose(handle);
  }
};

namespace {

bool Qualifies(DWORD attr, int32_t wanted) {
  const int32_t special = static_cast<int32_t>(attr) & (faHidden | faSysFile | faVolumeID | faDirectory);
  return (special & ~wanted) == 0;
}

void Fill(const WIN32_FIND_DATAA& data, TSearchRec& rec) {
  rec.Name = data.cFileName;
  rec.ShortName = data.cAlternateFileName;
  rec.Attr = static_cast<int32_t>(data.dwFileAttributes);
  rec.Size = static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  rec.Time = DosStampOfFileTime(data.ftLastWriteTime);
}

}  // namespace

TFindFiles::TFindFiles() = default;
TFindFiles::~TFindFiles() = default;

bool TFindFiles::First(const std::string& Mask, int32_t Attr, TSearchRec& Rec) {
  Close();
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(Mask.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  state_ = std::make_unique<State>();
  state_->handle = h;
  state_->wanted = Attr;
  while (!Qualifies(data.dwFileAttributes, Attr)) {
    if (!FindNextFileA(h, &data)) {
      Close();
      return false;
    }
  }
  Fill(data, Rec);
  return true;
}

bool TFindFiles::Next(TSearchRec& Rec) {
  if (!state_) return false;
  WIN32_FIND_DATAA data;
  do {
    if (!FindNextFileA(state_->handle, &data)) return false;
  } while (!Qualifies(data.dwFileAttributes, state_->wanted));
  Fill(data, Rec);
  return true;
}

void TFindFiles::Close() { state_.reset(); }

bool MatchesFileMask(std::string_view Name, std::string_view Mask) { return MatchMask(Name, Mask, true); }

}  // namespace zipkit::host
