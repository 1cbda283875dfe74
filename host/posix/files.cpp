// Files, folders, drives and time stamps on POSIX. Engine paths use "\"; it becomes "/" here.
// DOS attributes map onto the file's mode: read-only is the absence of every write bit.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "host/host.h"
#include "host/posix/posix_files.h"
#include "host/posix/posix_path.h"
#include "host/stream.h"

namespace zipkit::host {

namespace {

// Engine form of a path the system gave us.
std::string ToEnginePath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

bool Stat(const std::string& name, struct stat& st) {
  if (name.empty()) {
    errno = ENOENT;
    return false;
  }
  return ::stat(ToPosixPath(name).c_str(), &st) == 0;
}

std::string BaseName(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && (path[end - 1] == '\\' || path[end - 1] == '/')) --end;
  size_t start = end;
  while (start > 0 && path[start - 1] != '\\' && path[start - 1] != '/') --start;
  return path.substr(start, end - start);
}

bool TimeFromStamp(uint32_t stamp, struct timespec& ts) {
  TLocalTime t;
  if (!DecodeDosDateTime(stamp, t)) return false;
  std::tm tm{};
  tm.tm_year = t.Year - 1900;
  tm.tm_mon = t.Month - 1;
  tm.tm_mday = t.Day;
  tm.tm_hour = t.Hour;
  tm.tm_min = t.Minute;
  tm.tm_sec = t.Second;
  tm.tm_isdst = -1;  // let the zone rules say whether summer time applies
  const std::time_t when = std::mktime(&tm);
  if (when == static_cast<std::time_t>(-1)) return false;
  ts.tv_sec = when;
  ts.tv_nsec = 0;
  return true;
}

}  // namespace

int32_t AttrFromStat(const std::string& name, const struct stat& st) {
  int32_t attr = 0;
  if (S_ISDIR(st.st_mode)) {
    attr |= faDirectory;
  } else {
    attr |= faArchive;
  }
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attr |= faReadOnly;
  const std::string base = BaseName(name);
  if (base.size() > 1 && base[0] == '.' && base != "..") attr |= faHidden;
  return attr;
}

uint32_t DosStampOf(std::time_t when) {
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr) return 0;
  TLocalTime t;
  t.Year = local.tm_year + 1900;
  t.Month = local.tm_mon + 1;
  t.Day = local.tm_mday;
  t.Hour = local.tm_hour;
  t.Minute = local.tm_min;
  t.Second = local.tm_sec > 59 ? 59 : local.tm_sec;
  return EncodeDosDateTime(t);
}

int32_t LastError() { return errno; }

namespace {
// strerror_r comes in two flavours: GNU returns the text, XSI fills the buffer.
[[maybe_unused]] std::string ErrorText(const char* result, const char*, int32_t) { return result; }
[[maybe_unused]] std::string ErrorText(int result, const char* buf, int32_t code) {
  return result == 0 ? std::string(buf) : "Error " + std::to_string(code);
}
}  // namespace

std::string SysErrorMessage(int32_t Code) {
  char buf[256] = "";
  return ErrorText(strerror_r(Code, buf, sizeof buf), buf, Code);
}

bool FileExists(const std::string& Name) {
  struct stat st;
  return Stat(Name, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& Name) {
  struct stat st;
  return Stat(Name, st) && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& Name) {
  if (Name.empty()) {
    errno = ENOENT;
    return false;
  }
  return ::unlink(ToPosixPath(Name).c_str()) == 0;
}

bool RenameFile(const std::string& OldName, const std::string& NewName) {
  if (OldName.empty() || NewName.empty()) {
    errno = ENOENT;
    return false;
  }
  return ::rename(ToPosixPath(OldName).c_str(), ToPosixPath(NewName).c_str()) == 0;
}

int32_t FileGetAttr(const std::string& Name) {
  struct stat st;
  if (!Stat(Name, st)) return -1;
  return AttrFromStat(Name, st);
}

int32_t FileSetAttr(const std::string& Name, int32_t Attr) {
  struct stat st;
  if (!Stat(Name, st)) return errno;
  mode_t mode = st.st_mode & 07777;
  if (Attr & faReadOnly) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    mode |= S_IWUSR;
  }
  if (mode == (st.st_mode & 07777)) return 0;
  return ::chmod(ToPosixPath(Name).c_str(), mode) == 0 ? 0 : errno;
}

int32_t FileSetUnixMode(const std::string& Name, uint32_t Mode) {
  if (Name.empty()) return ENOENT;
  return ::chmod(ToPosixPath(Name).c_str(), static_cast<mode_t>(Mode & 0777)) == 0 ? 0 : errno;
}

int64_t FileAge(const std::string& Name) {
  struct stat st;
  if (!Stat(Name, st) || S_ISDIR(st.st_mode)) return -1;
  return DosStampOf(st.st_mtime);
}

int32_t FileSetDate(const std::string& Name, uint32_t DosDateTime) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // access time untouched
  if (!TimeFromStamp(DosDateTime, times[1])) return EINVAL;
  if (Name.empty()) return ENOENT;
  return ::utimensat(AT_FDCWD, ToPosixPath(Name).c_str(), times, 0) == 0 ? 0 : errno;
}

int32_t FileSetDate(TFileStream& File, uint32_t DosDateTime) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  if (!TimeFromStamp(DosDateTime, times[1])) return EINVAL;
  return ::futimens(static_cast<int>(File.Handle()), times) == 0 ? 0 : errno;
}

int32_t FileSizeOf(const std::string& Name) {
  struct stat st;
  if (!Stat(Name, st) || S_ISDIR(st.st_mode) || st.st_size > INT32_MAX) return -1;
  return static_cast<int32_t>(st.st_size);
}

std::string GetCurrentDir() {
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE || buf.size() >= (1u << 20)) return std::string();
    buf.resize(buf.size() * 2);
  }
  return ToEnginePath(buf.data());
}

bool SetCurrentDir(const std::string& Dir) {
  if (Dir.empty()) {
    errno = ENOENT;
    return false;
  }
  return ::chdir(ToPosixPath(Dir).c_str()) == 0;
}

bool CreateDir(const std::string& Dir) {
  if (Dir.empty()) {
    errno = ENOENT;
    return false;
  }
  return ::mkdir(ToPosixPath(Dir).c_str(), 0777) == 0;
}

bool RemoveDir(const std::string& Dir) {
  if (Dir.empty()) {
    errno = ENOENT;
    return false;
  }
  return ::rmdir(ToPosixPath(Dir).c_str()) == 0;
}

std::string ExpandFileName(const std::string& Name) {
  if (Name.empty()) return std::string();
  std::string path = ToEnginePath(Name);
  if (path[0] != '\\') {
    const std::string cwd = GetCurrentDir();
    if (cwd.empty()) return std::string();
    path = cwd + (cwd.back() == '\\' ? "" : "\\") + path;
  }
  const bool trailing = path.back() == '\\';
  // Resolve "." and ".." and collapse repeated separators; ".." at the root stays at the root.
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "\\" + part;
  if (out.empty() || trailing) out += "\\";
  return out;
}

std::string TempDirectory() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = env != nullptr && *env != '\0' ? env : "/tmp";
  dir = ToEnginePath(dir);
  if (dir.back() != '\\') dir += '\\';
  return dir;
}

std::string GetTempFileName(const std::string& Dir, const std::string& Prefix, bool Create) {
  std::string base = Dir;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
  base += Prefix.substr(0, 3);
  auto name_of = [&](unsigned number) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", number & 0xFFFF);
    return base + hex + ".TMP";
  };
  if (!Create) return name_of(1);
  // Start from a number that differs between processes and calls, then probe upwards for a
  // name that can be created exclusively.
  static std::atomic<unsigned> counter{0};
  const unsigned seed = static_cast<unsigned>(::getpid()) * 2654435761u +
                        static_cast<unsigned>(std::time(nullptr)) + counter.fetch_add(7919);
  for (unsigned i = 0; i < 0x10000; ++i) {
    const unsigned number = (seed + i) & 0xFFFF;
    if (number == 0) continue;
    const std::string name = name_of(number);
    const int fd = ::open(ToPosixPath(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) return std::string();
  }
  errno = EEXIST;
  return std::string();
}

TDriveType GetDriveType(const std::string& Root) {
  return DirectoryExists(Root) ? dtFixed : dtNoRootDir;
}

bool IsRemovableDrive(const std::string&) { return false; }

int32_t DriveFreeBytes(const std::string& Path) {
  // The file system of the path or, while it does not exist yet, of its nearest parent.
  std::string probe = ExpandFileName(Path.empty() ? "." : Path);
  struct statvfs fs;
  while (true) {
    if (!probe.empty() && ::statvfs(ToPosixPath(probe).c_str(), &fs) == 0) break;
    while (!probe.empty() && probe.back() == '\\') probe.pop_back();
    const size_t cut = probe.rfind('\\');
    if (cut == std::string::npos) return 0;
    probe.resize(cut + 1);
  }
  const unsigned long long bytes =
      static_cast<unsigned long long>(fs.f_bavail) * static_cast<unsigned long long>(fs.f_frsize);
  return bytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bytes);
}

int32_t SetVolumeLabel(const std::string&, const std::string&) { return 0; }

std::string VolumeLabel(const std::string&) { return std::string(); }

uint32_t NowDosDateTime() { return DosStampOf(std::time(nullptr)); }

}  // namespace zipkit::host
