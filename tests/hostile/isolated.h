// Runs a piece of a test in a child process with limits of the system (address space, file
// size, CPU time), and reports how it ended and how much memory it took on at its peak. A fault
// that would take the test program down (running out of memory, a signal) ends only the child.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
  int64_t GrowthKiB = 0;  // resident set at its peak, less what the child had from the fork
};

// The resident set now: after a fork it holds every page of the parent, whose size depends on
// what the test program did before, so the child measures its growth from here.
inline int64_t ResidentKiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Exit codes of the child besides what Body returns.
constexpr int kChildThrew = 120;

inline TOutcome RunIsolated(const std::function<int()>& Body, const TLimits& Limits = {}) {
  int growth_pipe[2];
  if (pipe(growth_pipe) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(growth_pipe[0]);
    const int64_t start_kib = ResidentKiB();
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
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    const int64_t growth_kib = self.ru_maxrss - start_kib;
    if (write(growth_pipe[1], &growth_kib, sizeof growth_kib) != sizeof growth_kib) _exit(code);
    _exit(code);
  }
  close(growth_pipe[1]);
  TOutcome out;
  if (pid < 0) {
    close(growth_pipe[0]);
    return out;
  }
  // A child ended by a signal writes nothing; its growth stays 0.
  if (read(growth_pipe[0], &out.GrowthKiB, sizeof out.GrowthKiB) != sizeof out.GrowthKiB)
    out.GrowthKiB = 0;
  close(growth_pipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return out;
  }
  out.Exited = WIFEXITED(status);
  out.Code = out.Exited ? WEXITSTATUS(status) : -1;
  out.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return out;
}

}  // namespace zipkit::testing
