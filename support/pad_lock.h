// TAbPadLock: the lock an archive holds while one of its operations runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "host/host.h"

namespace zipkit {

// A re-entrant lock: the holding thread may take it again, and each SetHeld(true) is matched by
// one SetHeld(false). A release by a thread that does not hold the lock does nothing.
class TAbPadLock {
 public:
  TAbPadLock() = default;
  // Releases what the destroying thread still holds.
  ~TAbPadLock();
  TAbPadLock(const TAbPadLock&) = delete;
  TAbPadLock& operator=(const TAbPadLock&) = delete;

  void SetHeld(bool Held);
  // Acquisitions of the holding thread not yet released (0 when free).
  int32_t HoldCount() const { return count_; }

 private:
  host::TCriticalSection mutex_;
  std::atomic<std::thread::id> owner_{};
  std::atomic<int32_t> count_{0};  // changed only by the holder
};

}  // namespace zipkit
