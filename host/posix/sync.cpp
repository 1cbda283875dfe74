#include <mutex>

#include "host/host.h"

namespace zipkit::host {

struct TCriticalSection::Impl {
  std::recursive_mutex mutex;
};

TCriticalSection::TCriticalSection() : impl_(std::make_unique<Impl>()) {}
TCriticalSection::~TCriticalSection() = default;
void TCriticalSection::Enter() { impl_->mutex.lock(); }
void TCriticalSection::Leave() { impl_->mutex.unlock(); }

}  // namespace zipkit::host
