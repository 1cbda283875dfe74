// Files, folders, drives and time stamps on Windows: the system's own services.
#include <windows.h>

#include <climits>
#include <vector>

#include "host/host.h"
#include "host/stream.h"

namespace zipkit::host {

namespace {

// DOS stamp (local time) to a file time in universal time.
bool FileTimeOf(uint32_t stamp, FILETIME& utc) {
  TLocalTime check;
  if (!DecodeDosDateTime(stamp, check)) return false;
  FILETIME local;
  return DosDateTimeToFileTime(static_cast<WORD>(stamp >> 16), static_cast<WORD>(stamp), &local) &&
         LocalFileTimeToFileTime(&local, &utc);
}

std::string Buffered(DWORD (*call)(DWORD, char*, void*), void* ctx) {
  std::vector<char> buf(MAX_PATH + 1);
  DWORD n = call(static_cast<DWORD>(buf.size()), buf.data(), ctx);
  if (n >= buf.size()) {
    buf.resize(n + 1);
    n = call(static_cast<DWORD>(buf.size()), buf.data(), ctx);
  }
  return n == 0 || n >= buf.size() ? std::string() : std::string(buf.data(), n);
}

// The drive ("C:") of the full form of Path, or "" for a path without one (UNC).
std::string DriveOf(const std::string& Path) {
  const std::string full = ExpandFileName(Path);
  const size_t colon = full.find(':');
  return colon == std::string::npos ? std::string() : full.substr(0, colon + 1);
}

}  // namespace

uint32_t DosStampOfFileTime(const FILETIME& utc) {
  FILETIME local;
  WORD date = 0, time = 0;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time)) return 0;
  const uint32_t stamp = static_cast<uint32_t>(date) << 16 | time;
  TLocalTime check;
  return DecodeDosDateTime(stamp, check) ? stamp : 0;
}

int32_t LastError() { return static_cast<int32_t>(GetLastError()); }

std::string SysErrorMessage(int32_t Code) {
  char buf[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(Code), 0, buf, sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' ' || buf[n - 1] == '.'))
    --n;
  return n == 0 ? "System error " + std::to_string(Code) : std::string(buf, n);
}

bool FileExists(const std::string& Name) {
  const DWORD attr = GetFileAttributesA(Name.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& Name) {
  const DWORD attr = GetFileAttributesA(Name.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool DeleteFile(const std::string& Name) { return DeleteFileA(Name.c_str()) != 0; }

bool RenameFile(const std::string& OldName, const std::string& NewName) {
  return MoveFileA(OldName.c_str(), NewName.c_str()) != 0;
}

int32_t FileGetAttr(const std::string& Name) {
  const DWORD attr = GetFileAttributesA(Name.c_str());
  return attr == INVALID_FILE_ATTRIBUTES ? -1 : static_cast<int32_t>(attr);
}

int32_t FileSetAttr(const std::string& Name, int32_t Attr) {
  return SetFileAttributesA(Name.c_str(), static_cast<DWORD>(Attr) & 0xFFFF) ? 0 : LastError();
}

int32_t FileSetUnixMode(const std::string&, uint32_t) { return 0; }

int64_t FileAge(const std::string& Name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(Name.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return -1;
  return DosStampOfFileTime(data.ftLastWriteTime);
}

int32_t FileSetDate(TFileStream& File, uint32_t DosDateTime) {
  FILETIME utc;
  if (!FileTimeOf(DosDateTime, utc)) return ERROR_INVALID_PARAMETER;
  return SetFileTime(reinterpret_cast<HANDLE>(File.Handle()), nullptr, nullptr, &utc) ? 0 : LastError();
}

int32_t FileSetDate(const std::string& Name, uint32_t DosDateTime) {
  FILETIME utc;
  if (!FileTimeOf(DosDateTime, utc)) return ERROR_INVALID_PARAMETER;
  HANDLE h = CreateFileA(Name.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  const int32_t result = SetFileTime(h, nullptr, nullptr, &utc) ? 0 : LastError();
  CloseHandle(h);
  return result;
}

int32_t FileSizeOf(const std::string& Name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(Name.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || data.nFileSizeHigh != 0 ||
      data.nFileSizeLow > INT32_MAX)
    return -1;
  return static_cast<int32_t>(data.nFileSizeLow);
}

std::string GetCurrentDir() {
  return Buffered([](DWORD n, char* b, void*) { return GetCurrentDirectoryA(n, b); }, nullptr);
}

bool SetCurrentDir(const std::string& Dir) { return SetCurrentDirectoryA(Dir.c_str()) != 0; }
bool CreateDir(const std::string& Dir) { return CreateDirectoryA(Dir.c_str(), nullptr) != 0; }
bool RemoveDir(const std::string& Dir) { return RemoveDirectoryA(Dir.c_str()) != 0; }

std::string ExpandFileName(const std::string& Name) {
  if (Name.empty()) return std::string();
  return Buffered(
      [](DWORD n, char* b, void* ctx) {
        return GetFullPathNameA(static_cast<const std::string*>(ctx)->c_str(), n, b, nullptr);
      },
      const_cast<std::string*>(&Name));
}

std::string TempDirectory() {
  std::string dir = Buffered([](DWORD n, char* b, void*) { return GetTempPathA(n, b); }, nullptr);
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  return dir;
}

std::string GetTempFileName(const std::string& Dir, const std::string& Prefix, bool Create) {
  char buf[MAX_PATH + 1];
  if (GetTempFileNameA(Dir.c_str(), Prefix.substr(0, 3).c_str(), Create ? 0 : 1, buf) == 0)
    return std::string();
  return buf;
}

TDriveType GetDriveType(const std::string& Root) {
  return static_cast<TDriveType>(GetDriveTypeA(Root.c_str()));
}

bool IsRemovableDrive(const std::string& Path) {
  const std::string drive = DriveOf(Path);
  return !drive.empty() && GetDriveType(drive + "\\") == dtRemovable;
}

int32_t DriveFreeBytes(const std::string& Path) {
  const std::string drive = DriveOf(Path);
  if (drive.empty()) return 0;
  DWORD sectors_per_cluster, bytes_per_sector, free_clusters, total_clusters;
  if (!GetDiskFreeSpaceA((drive + "\\").c_str(), &sectors_per_cluster, &bytes_per_sector,
                         &free_clusters, &total_clusters))
    return 0;
  const unsigned long long bytes = static_cast<unsigned long long>(sectors_per_cluster) *
                                   bytes_per_sector * free_clusters;
  return bytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bytes);
}

int32_t SetVolumeLabel(const std::string& Root, const std::string& Label) {
  return SetVolumeLabelA(Root.c_str(), Label.c_str()) ? 0 : LastError();
}

std::string VolumeLabel(const std::string& Root) {
  char label[MAX_PATH + 1] = "";
  if (!GetVolumeInformationA(Root.c_str(), label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0))
    return std::string();
  return label;
}

uint32_t NowDosDateTime() {
  FILETIME utc;
  GetSystemTimeAsFileTime(&utc);
  return DosStampOfFileTime(utc);
}

}  // namespace zipkit::host
