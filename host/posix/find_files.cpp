// Wildcard enumeration on POSIX: the folder is read at First and the matching entries handed
// out in name order ("." and ".." first), so results do not depend on the file system's order.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "host/file_mask.h"
#include "host/host.h"
#include "host/posix/posix_files.h"
#include "host/posix/posix_path.h"

namespace zipkit::host {

struct TFindFiles::State {
  std::vector<TSearchRec> found;
  size_t next = 0;
};

namespace {

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// Fills Rec for the entry Name of the folder Dir (engine form, with trailing "\" or empty).
bool Describe(const std::string& dir, const std::string& name, TSearchRec& rec) {
  const std::string path = ToPosixPath(dir + name);
  struct stat st;
  struct stat lst;
  const bool linked = ::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode);
  if (::stat(path.c_str(), &st) != 0) {
    if (!linked) return false;
    st = lst;  // a dangling link is listed as itself
  }
  rec.Name = name;
  rec.ShortName.clear();
  rec.Attr = AttrFromStat(name, st) | (linked ? faSymLink : 0);
  rec.Size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
  rec.Time = DosStampOf(st.st_mtime);
  return true;
}

bool Qualifies(int32_t entry_attr, int32_t wanted) {
  const int32_t special = entry_attr & (faHidden | faSysFile | faVolumeID | faDirectory);
  return (special & ~wanted) == 0;
}

}  // namespace

TFindFiles::TFindFiles() = default;
TFindFiles::~TFindFiles() = default;

bool TFindFiles::First(const std::string& Mask, int32_t Attr, TSearchRec& Rec) {
  Close();
  const size_t cut = Mask.find_last_of("\\/");
  const std::string dir = cut == std::string::npos ? std::string() : Mask.substr(0, cut + 1);
  const std::string pattern = cut == std::string::npos ? Mask : Mask.substr(cut + 1);
  if (pattern.empty()) return false;
  auto state = std::make_unique<State>();
  TSearchRec rec;
  if (!HasWildcard(pattern)) {
    if (Describe(dir, pattern, rec) && Qualifies(rec.Attr, Attr)) state->found.push_back(rec);
  } else {
    DIR* d = ::opendir(dir.empty() ? "." : ToPosixPath(dir).c_str());
    if (d == nullptr) return false;
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (MatchMask(name, pattern, false) && Describe(dir, name, rec) && Qualifies(rec.Attr, Attr))
        state->found.push_back(rec);
    }
    ::closedir(d);
    std::sort(state->found.begin(), state->found.end(), [](const TSearchRec& a, const TSearchRec& b) {
      const int ra = a.Name == "." ? 0 : a.Name == ".." ? 1 : 2;
      const int rb = b.Name == "." ? 0 : b.Name == ".." ? 1 : 2;
      return ra != rb ? ra < rb : a.Name < b.Name;
    });
  }
  state_ = std::move(state);
  return Next(Rec);
}

bool TFindFiles::Next(TSearchRec& Rec) {
  if (!state_ || state_->next >= state_->found.size()) return false;
  Rec = state_->found[state_->next++];
  return true;
}

void TFindFiles::Close() { state_.reset(); }

bool MatchesFileMask(std::string_view Name, std::string_view Mask) {
  return MatchMask(Name, Mask, false);
}

}  // namespace zipkit::host
