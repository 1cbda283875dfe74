#include "support/paths.h"

#include <cstdio>

#include "host/host.h"
#include "support/errors.h"
#include "support/format.h"

namespace zipkit {

namespace {

// Index just past the folder part: after the last "\" or ":" (0 when there is none).
size_t FolderEnd(std::string_view path) {
  const size_t cut = path.find_last_of("\\:");
  return cut == std::string_view::npos ? 0 : cut + 1;
}

// Index of the extension's dot, or npos when the name part has none.
size_t ExtensionStart(std::string_view path) {
  const size_t cut = path.find_last_of(".\\:");
  return cut != std::string_view::npos && path[cut] == '.' ? cut : std::string_view::npos;
}

}  // namespace

std::string FolderPart(std::string_view Path) { return std::string(Path.substr(0, FolderEnd(Path))); }

std::string NamePart(std::string_view Path) { return std::string(Path.substr(FolderEnd(Path))); }

int32_t BackslashPrefixLength(std::string_view S, int32_t N) {
  int32_t seen = 0;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] == '\\' && ++seen >= N) return static_cast<int32_t>(i);
  }
  return static_cast<int32_t>(S.size());
}

PathKind ClassifyPath(std::string_view Path) {
  if (Path.find("\\\\") != std::string_view::npos || Path.find(':') != std::string_view::npos)
    return pkAbsolute;
  if (Path.find_first_of("\\/") != std::string_view::npos) return pkRelative;
  return pkBareName;
}

void SplitPath(std::string_view Path, std::string& Drive, std::string& Folder, std::string& Name) {
  std::string path(Path);
  ToBackslashes(path);
  Name = NamePart(path);
  Folder = FolderPart(path);
  Drive.clear();
  if (Folder.find("\\\\") != std::string::npos) {
    // "\\server\share\dir\": the drive is everything before the fourth backslash.
    const size_t k = static_cast<size_t>(BackslashPrefixLength(Folder, 4));
    Drive = Folder.substr(0, k);
    Folder.erase(0, k + 1 < Folder.size() ? k + 1 : Folder.size());
  } else if (const size_t p = Folder.find(':'); p != std::string::npos) {
    Drive = Folder.substr(0, p + 1);
    Folder.erase(0, p + 1);
    if (!Folder.empty() && Folder[0] == '\\') Folder.erase(0, 1);
  }
}

void SplitFolders(std::string_view Folder, std::vector<std::string>& List) {
  if (Folder.empty()) return;
  if (Folder.back() == '\\') Folder.remove_suffix(1);
  if (Folder.empty()) return;  // a lone "\" has no components
  size_t start = 0;
  while (true) {
    const size_t end = Folder.find('\\', start);
    List.emplace_back(Folder.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

void DropLeadingParents(std::string& Path) {
  size_t n = 0;
  while (Path.compare(n, 3, "..\\") == 0) n += 3;
  Path.erase(0, n);
}

void DropDrive(std::string& Path) {
  std::string drive, folder, name;
  SplitPath(Path, drive, folder, name);
  Path = folder + name;
}

void ToBackslashes(std::string& S) {
  for (char& c : S)
    if (c == '/') c = '\\';
}

void SetSpanExtension(std::string& Name, uint16_t Disk) {
  const std::string digits = Format("%.2d", {static_cast<int32_t>(Disk % 100)});
  const size_t dot = ExtensionStart(Name);
  const std::string ext = dot == std::string::npos ? std::string() : Name.substr(dot, 4);
  const std::string new_ext = ext.size() < 2 ? "." + digits : ext.substr(0, 2) + digits;
  if (dot != std::string::npos) Name.erase(dot);
  Name += new_ext;
}

std::string ShortPathName(const std::string& Path) {
  std::string drive, folder, name;
  SplitPath(Path, drive, folder, name);
  std::vector<std::string> components;
  SplitFolders(folder, components);
  // Without a drive (a POSIX path) the folder's leading "\" gives an empty first component,
  // skipped below: the root.
  std::string probe = drive;
  std::string result = drive + "\\";
  host::TFindFiles find;
  host::TSearchRec rec;
  for (const std::string& c : components) {
    if (c.empty()) continue;
    probe += "\\" + c;
    if (!find.First(probe, host::faDirectory | host::faHidden | host::faSysFile, rec))
      throw EAbException("Path not found");
    result += (rec.ShortName.empty() ? rec.Name : rec.ShortName) + "\\";
  }
  probe += "\\" + name;
  const int32_t files = host::faReadOnly | host::faHidden | host::faSysFile | host::faArchive;
  if (name.empty() || !find.First(probe, files, rec) || (rec.Attr & host::faDirectory) != 0)
    throw EAbFileNotFound();
  result += rec.ShortName.empty() ? rec.Name : rec.ShortName;
  return result;
}

}  // namespace zipkit
