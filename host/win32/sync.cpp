#include <windows.h>

#include "host/host.h"

namespace zipkit::host {

struct TCriticalSection::Impl {
  CRITICAL_SECTION section;
};

TCriticalSection::TCriticalSection() : impl_(std::make_unique<Impl>()) {
  InitializeCriticalSection(&impl_->section);
}
TCriticalSection::~TCriticalSection() { DeleteCriticalSection(&impl_->section); }
void TCriticalSection::Enter() { EnterCriticalSection(&impl_->section); }
void TCriticalSection::Leave() { LeaveCriticalSection(&impl_->section); }

}  // namespace zipkit::host
