// Replacing a file by another in one step: MoveFileEx with MOVEFILE_REPLACE_EXISTING.
#include <windows.h>

#include "host/host.h"

namespace zipkit::host {

std::string RealFileName(const std::string& Name) { return ExpandFileName(Name); }

bool ReplaceFile(const std::string& NewFile, const std::string& Target) {
  const DWORD attr = GetFileAttributesA(Target.c_str());
  if (attr != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesA(NewFile.c_str(), attr & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                                FILE_ATTRIBUTE_ARCHIVE));
  return MoveFileExA(NewFile.c_str(), Target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace zipkit::host
