// Replacing a file by another in one step: rename(2) within one file system.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <memory>

#include "host/host.h"
#include "host/posix/posix_path.h"

namespace zipkit::host {

std::string RealFileName(const std::string& Name) {
  std::unique_ptr<char, void (*)(void*)> real(::realpath(ToPosixPath(Name).c_str(), nullptr),
                                              ::free);
  if (!real) return ExpandFileName(Name);
  std::string out = real.get();
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

bool ReplaceFile(const std::string& NewFile, const std::string& Target) {
  const std::string from = ToPosixPath(NewFile);
  const std::string to = ToPosixPath(Target);
  struct stat st;
  if (::stat(to.c_str(), &st) == 0) {
    // The owner can only be kept by a privileged process or for one's own groups.
    if (::chown(from.c_str(), st.st_uid, st.st_gid) != 0) {
      // keep the new file's owner
    }
    if (::chmod(from.c_str(), st.st_mode & 07777) != 0) return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace zipkit::host
