#include "support/pad_lock.h"

namespace zipkit {

// The lock is always taken, also while the process has a single thread: a thread started
// later then finds it held instead of slipping past an acquisition that was skipped.
void TAbPadLock::SetHeld(bool Held) {
  const std::thread::id self = std::this_thread::get_id();
  if (Held) {
    mutex_.Enter();
    if (count_ == 0) owner_ = self;
    count_ = count_ + 1;
    return;
  }
  if (owner_ != self || count_ <= 0) return;
  count_ = count_ - 1;
  if (count_ == 0) owner_ = std::thread::id();
  mutex_.Leave();
}

TAbPadLock::~TAbPadLock() {
  while (owner_ == std::this_thread::get_id() && count_ > 0) SetHeld(false);
}

}  // namespace zipkit
