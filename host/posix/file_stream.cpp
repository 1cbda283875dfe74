// TFileStream on POSIX: a file descriptor. Share modes are approximated with advisory locks:
// a writer takes an exclusive lock, a reader that denies writers a shared one.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "host/exceptions.h"
#include "host/posix/posix_path.h"
#include "host/stream.h"

namespace zipkit {

namespace {

int AccessFlags(uint16_t mode) {
  switch (mode & 0x3) {
    case fmOpenWrite: return O_WRONLY;
    case fmOpenReadWrite: return O_RDWR;
    default: return O_RDONLY;
  }
}

// Returns false when another holder's lock conflicts with the requested sharing.
bool ApplyShareMode(int fd, uint16_t mode) {
  const uint16_t share = mode & 0xF0;
  if (share == fmShareDenyNone) return true;
  const int op = (share == fmShareDenyWrite && (mode & 0x3) == fmOpenRead) ? LOCK_SH : LOCK_EX;
  return flock(fd, op | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

}  // namespace

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : file_name_(FileName) {
  const std::string path = host::ToPosixPath(FileName);
  if (Mode == fmCreate) {
    handle_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (handle_ < 0) throw EFCreateError("Cannot create file " + FileName);
    return;
  }
  handle_ = ::open(path.c_str(), AccessFlags(Mode) | O_CLOEXEC);
  struct stat st;
  if (handle_ >= 0 && (fstat(static_cast<int>(handle_), &st) != 0 || S_ISDIR(st.st_mode) ||
                       !ApplyShareMode(static_cast<int>(handle_), Mode))) {
    ::close(static_cast<int>(handle_));
    handle_ = -1;
  }
  if (handle_ < 0) throw EFOpenError("Cannot open file " + FileName);
}

TFileStream::~TFileStream() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

void TFileStream::SetSize(int32_t NewSize) {
  Seek(NewSize, soFromBeginning);
  if (ftruncate(static_cast<int>(handle_), NewSize) != 0) throw EWriteError();
}

int32_t TFileStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  ssize_t total = 0;
  while (total < Count) {
    const ssize_t n = ::read(static_cast<int>(handle_), static_cast<char*>(Buffer) + total,
                             static_cast<size_t>(Count - total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
  }
  return static_cast<int32_t>(total);
}

int32_t TFileStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  ssize_t total = 0;
  while (total < Count) {
    const ssize_t n = ::write(static_cast<int>(handle_), static_cast<const char*>(Buffer) + total,
                              static_cast<size_t>(Count - total));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
  }
  return static_cast<int32_t>(total);
}

int32_t TFileStream::Seek(int32_t Offset, uint16_t Origin) {
  int whence = SEEK_SET;
  if (Origin == soFromCurrent) whence = SEEK_CUR;
  else if (Origin == soFromEnd) whence = SEEK_END;
  else if (Origin != soFromBeginning) return -1;
  const off_t pos = ::lseek(static_cast<int>(handle_), Offset, whence);
  if (pos < 0 || pos > INT32_MAX) return -1;
  return static_cast<int32_t>(pos);
}

}  // namespace zipkit
