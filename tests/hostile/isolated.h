// Runs a piece of a test in a child process with limits of the system (address space, file
// size, CPU time), and reports how it ended and how much memory it held at its peak. A fault
// that would take the test program down (running out of memory, a signal) ends only the child.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <exception>
#include <functional>

namespace zipkit::testing {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

struct TLimits {
  int64_t AddressSpace = 0;  // bytes; 0: none. Not applied under AddressSanitizer, whose shadow
                             // memory reserves terabytes of address space.
  int64_t FileSize = 0;      // bytes any one file may reach; 0: none. Writes beyond it fail
                             // (EFBIG), as on a full disk.
  int CpuSeconds = 60;       // a hang becomes SIGXCPU
};

struct TOutcome {
  bool Exited = false;   // by _exit, with Code
  int Code = -1;
  int Signal = 0;        // the signal that ended it, if any
  int64_t PeakKiB = 0;   // resident set at its peak
};

// Exit codes of the child besides what Body returns.
constexpr int kChildThrew = 120;

inline TOutcome RunIsolated(const std::function<int()>& Body, const TLimits& Limits = {}) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (Limits.AddressSpace > 0 && !kAddressSanitizer) {
      const rlimit as{static_cast<rlim_t>(Limits.AddressSpace),
                      static_cast<rlim_t>(Limits.AddressSpace)};
      setrlimit(RLIMIT_AS, &as);
    }
    if (Limits.FileSize > 0) {
      signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of killing
      const rlimit fs{static_cast<rlim_t>(Limits.FileSize), static_cast<rlim_t>(Limits.FileSize)};
      setrlimit(RLIMIT_FSIZE, &fs);
    }
    const rlimit cpu{static_cast<rlim_t>(Limits.CpuSeconds),
                     static_cast<rlim_t>(Limits.CpuSeconds)};
    setrlimit(RLIMIT_CPU, &cpu);
    int code = kChildThrew;
    try {
      code = Body();
    } catch (...) {
    }
    _exit(code);
  }
  TOutcome out;
  if (pid < 0) return out;
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return out;
  }
  out.Exited = WIFEXITED(status);
  out.Code = out.Exited ? WEXITSTATUS(status) : -1;
  out.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  out.PeakKiB = usage.ru_maxrss;
  return out;
}

// The peak of a child that does nothing: what every child starts with (the test program's
// pages, shared after the fork).
inline int64_t BaselineKiB() {
  static const int64_t baseline = RunIsolated([] { return 0; }).PeakKiB;
  return baseline;
}

}  // namespace zipkit::testing
