#include "support/file_system.h"

#include <algorithm>

#include "host/exceptions.h"
#include "host/host.h"
#include "host/stream.h"
#include "support/paths.h"

namespace zipkit {

namespace {

// Deeper than any real tree; stops a loop of links from recursing without end.
constexpr int kMaxCollectDepth = 128;

void Collect(const std::string& Mask, int32_t Attributes, std::vector<std::string>& List,
             bool Recurse, int depth) {
  const std::string folder = FolderPart(Mask);
  host::TFindFiles find;
  host::TSearchRec rec;
  for (bool ok = find.First(Mask, Attributes, rec); ok; ok = find.Next(rec))
    List.push_back(folder + rec.Name);
  if (!Recurse || depth >= kMaxCollectDepth) return;
  std::string dirs = folder;
  if (!dirs.empty() && dirs.back() != '\\') dirs += '\\';
  const std::string name = NamePart(Mask);
  for (bool ok = find.First(dirs + "*.*", host::faDirectory, rec); ok; ok = find.Next(rec)) {
    // Linked folders are not entered: a link to a parent would never end.
    if ((rec.Attr & host::faDirectory) == 0 || (rec.Attr & host::faSymLink) != 0) continue;
    if (rec.Name == "." || rec.Name == "..") continue;
    Collect(folder + rec.Name + "\\" + name, Attributes, List, true, depth + 1);
  }
}

}  // namespace

TCurrentDirScope::TCurrentDirScope(const std::string& Folder) {
  if (Folder.empty()) return;
  saved_ = host::GetCurrentDir();
  if (!host::SetCurrentDir(Folder)) {
    const int32_t code = host::LastError();
    throw EInOutError(host::SysErrorMessage(code), code);
  }
  changed_ = true;
}

TCurrentDirScope::~TCurrentDirScope() {
  if (changed_) host::SetCurrentDir(saved_);
}

// FolderExists asks the system about at most this many characters.
constexpr size_t kAskedLength = 255;

bool FolderExists(const std::string& Name) {
  if (Name.find_first_of("*?") != std::string::npos) return false;
  // The system is asked about at most 255 characters, up to the first zero byte.
  const std::string name = Name.substr(0, std::min<size_t>(Name.find('\0'), kAskedLength));
  const int32_t attr = host::FileGetAttr(name);
  return attr != -1 && (attr & host::faDirectory) != 0;
}

void MakeFolderPath(const std::string& Path) {
  if (FolderExists(Path)) return;
  // One pass over the path: the end of each level is found from the one before, and each level
  // is asked about as FolderExists would (its wildcards, its first 255 characters), so a path of
  // thousands of levels costs time in proportion to its length, not to its square.
  const size_t wildcard = Path.find_first_of("*?");
  const int32_t first = Path.find("\\\\") != std::string::npos ? 5 : 2;
  size_t end = static_cast<size_t>(BackslashPrefixLength(Path, first));
  while (true) {
    const bool exists =
        wildcard >= end && FolderExists(Path.substr(0, std::min(end, kAskedLength)));
    if (!exists && !host::CreateDir(Path.substr(0, end))) {
      const int32_t code = host::LastError();
      throw EInOutError(host::SysErrorMessage(code), code);
    }
    if (end >= Path.size()) break;
    end = std::min(Path.find('\\', end + 1), Path.size());
  }
}

std::string TempFileName(const std::string& Folder, bool Create) {
  const std::string dir = FolderExists(Folder) ? Folder : host::TempDirectory();
  return host::GetTempFileName(dir, "VMS", Create);
}

std::string NewTempFile(const std::string& Folder) { return TempFileName(Folder, true); }

bool IsRemovableDrive(const std::string& Path) { return host::IsRemovableDrive(Path); }

int32_t DriveFreeBytes(const std::string& Path) { return host::DriveFreeBytes(Path); }

void CollectFiles(const std::string& Mask, int32_t Attributes, std::vector<std::string>& List,
                  bool Recurse) {
  Collect(Mask, Attributes, List, Recurse, 0);
}

void TruncateFileAt(TFileStream& Stream, int32_t Position) {
  try {
    Stream.SetSize(Position);
  } catch (const Exception&) {
    // The outcome is not wanted: a file that cannot be cut keeps its length.
  }
}

int32_t WriteDiskLabel(const std::string& Label, char Drive) {
  const std::string root = std::string(1, Drive) + ":\\";
  return host::SetVolumeLabel(root, Label.substr(0, 11));
}

}  // namespace zipkit
