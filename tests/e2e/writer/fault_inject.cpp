// Faults of the host, injected into a program by LD_PRELOAD: a disk that fills up, a file that
// cannot be read. The program's own read(2) and write(2) calls come here first.
//
//   ZK_FAULT_NOSPACE_AFTER=N   writes to regular files fail with ENOSPC once N bytes in all
//                              have been written to them (the disk is full)
//   ZK_FAULT_EIO_READ=TEXT     reads from a file whose path contains TEXT fail with EIO
//
// Without these variables every call goes straight to the C library.
#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

using ReadFn = ssize_t (*)(int, void*, size_t);
using WriteFn = ssize_t (*)(int, const void*, size_t);

ReadFn RealRead() {
  static ReadFn fn = reinterpret_cast<ReadFn>(dlsym(RTLD_NEXT, "read"));
  return fn;
}
WriteFn RealWrite() {
  static WriteFn fn = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"));
  return fn;
}

bool IsRegularFile(int fd) {
  struct stat st;
  return fd > 2 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool PathContains(int fd, const char* text) {
  char link[64];
  char path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  return strstr(path, text) != nullptr;
}

std::atomic<long long> written{0};

}  // namespace

extern "C" ssize_t read(int fd, void* buf, size_t count) {
  const char* text = getenv("ZK_FAULT_EIO_READ");
  if (text != nullptr && *text != '\0' && IsRegularFile(fd) && PathContains(fd, text)) {
    errno = EIO;
    return -1;
  }
  return RealRead()(fd, buf, count);
}

extern "C" ssize_t write(int fd, const void* buf, size_t count) {
  const char* limit_text = getenv("ZK_FAULT_NOSPACE_AFTER");
  if (limit_text == nullptr || !IsRegularFile(fd)) return RealWrite()(fd, buf, count);
  const long long limit = atoll(limit_text);
  const long long before = written.load();
  if (before >= limit) {
    errno = ENOSPC;
    return -1;
  }
  // A write that reaches the limit goes in part, as on a disk that fills up.
  const size_t room = static_cast<size_t>(limit - before);
  const ssize_t n = RealWrite()(fd, buf, count < room ? count : room);
  if (n > 0) written += n;
  return n;
}
