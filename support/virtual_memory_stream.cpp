#include "support/virtual_memory_stream.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "host/exceptions.h"
#include "host/host.h"
#include "support/errors.h"
#include "support/file_system.h"

namespace zipkit {

namespace {

int32_t PageStart(int32_t position) { return position & ~(TAbVirtualMemoryStream::kPageSize - 1); }

}  // namespace

TAbVirtualMemoryStream::TAbVirtualMemoryStream() {
  auto page = std::make_unique<VmPage>();
  std::memset(page->Data, 0, sizeof page->Data);
  current_ = page.get();
  pages_.push_back(std::move(page));
}

TAbVirtualMemoryStream::~TAbVirtualMemoryStream() { CloseSwap(); }

int32_t TAbVirtualMemoryStream::Read(void* Buffer, int32_t Count) {
  int64_t count = std::min<int64_t>(Count, static_cast<int64_t>(size_) - position_);
  if (count <= 0) return 0;
  const int32_t start = position_;
  uint8_t* out = static_cast<uint8_t*>(Buffer);
  int64_t left = count;
  try {
    while (left > 0) {
      const int32_t page_offset = PageStart(position_);
      const int32_t within = position_ - page_offset;
      const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(kPageSize - within, left));
      VmPage* page = current_ != nullptr && current_->StreamOffset == page_offset ? current_ : PageFor(page_offset);
      std::memcpy(out, page->Data + within, static_cast<size_t>(chunk));
      out += chunk;
      left -= chunk;
      position_ += chunk;
    }
  } catch (...) {
    position_ = start;
    throw;
  }
  return static_cast<int32_t>(count);
}

int32_t TAbVirtualMemoryStream::Write(const void* Buffer, int32_t Count) {
  // Nothing goes past 2 GiB.
  const int64_t count = std::min<int64_t>(std::max(Count, 0), static_cast<int64_t>(INT32_MAX) - position_);
  const int32_t start = position_;
  const uint8_t* in = static_cast<const uint8_t*>(Buffer);
  int64_t left = count;
  try {
    while (left > 0) {
      const int32_t page_offset = PageStart(position_);
      const int32_t within = position_ - page_offset;
      const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(kPageSize - within, left));
      VmPage* page = current_ != nullptr && current_->StreamOffset == page_offset ? current_ : PageFor(page_offset);
      std::memcpy(page->Data + within, in, static_cast<size_t>(chunk));
      page->Dirty = true;
      in += chunk;
      left -= chunk;
      position_ += chunk;
    }
  } catch (...) {
    position_ = start;
    throw;
  }
  if (position_ > size_) size_ = position_;
  return static_cast<int32_t>(count);
}

int32_t TAbVirtualMemoryStream::Seek(int32_t Offset, uint16_t Origin) {
  int64_t base = 0;
  switch (Origin) {
    case soFromBeginning: base = 0; break;
    case soFromCurrent: base = position_; break;
    case soFromEnd: base = size_; break;
    default: throw EAbVMSInvalidOrigin(Origin);
  }
  const int64_t position = base + Offset;
  if (position < 0 || position > INT32_MAX) return -1;
  position_ = static_cast<int32_t>(position);
  return position_;
}

void TAbVirtualMemoryStream::SetSize(int32_t NewSize) {
  NewSize = std::max(NewSize, 0);
  if (NewSize < size_) {
    // The pages wholly past the new end go without being stored; the bytes of the last kept
    // page past it, and the swap file, keep what they hold.
    const auto first_dropped = std::find_if(pages_.begin(), pages_.end(),
                                            [NewSize](const auto& p) { return p->StreamOffset >= NewSize; });
    for (auto it = first_dropped; it != pages_.end(); ++it)
      if (it->get() == current_) current_ = nullptr;
    pages_.erase(first_dropped, pages_.end());
    const int64_t kept = (static_cast<int64_t>(NewSize) + kPageSize - 1) / kPageSize * kPageSize;
    swap_extent_ = std::min(swap_extent_, kept);
  }
  size_ = NewSize;
  if (position_ > NewSize) position_ = NewSize;
}

void TAbVirtualMemoryStream::SetMemoryLimit(int32_t Bytes) {
  const int64_t wanted = (static_cast<int64_t>(Bytes) + kPageSize - 1) / kPageSize;
  const int32_t pages = static_cast<int32_t>(std::clamp<int64_t>(wanted, 1, kMaxPages));
  while (static_cast<int32_t>(pages_.size()) > pages) {
    const size_t oldest = OldestPage();
    if (pages_[oldest]->Dirty) StorePage(*pages_[oldest]);
    if (pages_[oldest].get() == current_) current_ = nullptr;
    pages_.erase(pages_.begin() + static_cast<ptrdiff_t>(oldest));
  }
  page_limit_ = pages;
  memory_limit_ = pages * kPageSize;
}

int32_t TAbVirtualMemoryStream::NextUseStamp() {
  if (use_counter_ == INT32_MAX) {
    for (auto& page : pages_) page->LastUse = 0;
    use_counter_ = 0;
  }
  return ++use_counter_;
}

size_t TAbVirtualMemoryStream::OldestPage() const {
  size_t oldest = 0;
  for (size_t i = 1; i < pages_.size(); ++i)
    if (pages_[i]->LastUse < pages_[oldest]->LastUse) oldest = i;
  return oldest;
}

VmPage* TAbVirtualMemoryStream::PageFor(int32_t Offset) {
  // The page, or where it belongs: a scan for a few pages, halving for more.
  size_t insert_at = pages_.size();
  bool found = false;
  if (pages_.size() < 4) {
    for (size_t i = 0; i < pages_.size(); ++i) {
      if (pages_[i]->StreamOffset >= Offset) {
        insert_at = i;
        found = pages_[i]->StreamOffset == Offset;
        break;
      }
    }
  } else {
    int64_t low = 0;
    int64_t high = static_cast<int64_t>(pages_.size()) - 1;
    while (high >= low) {
      const int64_t middle = (low + high) / 2;
      const int32_t at = pages_[static_cast<size_t>(middle)]->StreamOffset;
      if (at > Offset) {
        high = middle - 1;
      } else if (at < Offset) {
        low = middle + 1;
      } else {
        low = middle;
        found = true;
        break;
      }
    }
    insert_at = static_cast<size_t>(low);
  }
  if (found) {
    VmPage* page = pages_[insert_at].get();
    page->LastUse = NextUseStamp();
    current_ = page;
    return page;
  }

  // Bringing a page in: until it is in the table there is no current page, so that a failing
  // swap leaves the table consistent.
  current_ = nullptr;
  std::unique_ptr<VmPage> page;
  if (static_cast<int32_t>(pages_.size()) < page_limit_) {
    page = std::make_unique<VmPage>();
  } else {
    const size_t oldest = OldestPage();
    if (pages_[oldest]->Dirty) StorePage(*pages_[oldest]);
    page = std::move(pages_[oldest]);
    pages_.erase(pages_.begin() + static_cast<ptrdiff_t>(oldest));
    if (oldest < insert_at) --insert_at;
  }
  page->StreamOffset = Offset;
  page->LastUse = NextUseStamp();
  page->Dirty = false;
  LoadPage(*page);
  VmPage* result = page.get();
  pages_.insert(pages_.begin() + static_cast<ptrdiff_t>(insert_at), std::move(page));
  current_ = result;
  return result;
}

// From the swap file when it holds the page, else zeros.
void TAbVirtualMemoryStream::LoadPage(VmPage& Page) {
  if (swap_ == nullptr || Page.StreamOffset >= swap_extent_) {
    std::memset(Page.Data, 0, sizeof Page.Data);
    return;
  }
  if (swap_->Seek(Page.StreamOffset, soFromBeginning) != Page.StreamOffset) throw EAbVMSSeekFail(swap_file_name_);
  if (swap_->Read(Page.Data, kPageSize) != kPageSize) throw EAbVMSReadFail(kPageSize, swap_file_name_);
}

// Pages are stored at their own stream offset: the swap file is an image of the stream with
// holes where no page went out.
void TAbVirtualMemoryStream::StorePage(const VmPage& Page) {
  OpenSwap();
  if (swap_->Seek(Page.StreamOffset, soFromBeginning) != Page.StreamOffset) throw EAbVMSSeekFail(swap_file_name_);
  if (swap_->Write(Page.Data, kPageSize) != kPageSize) throw EAbVMSWriteFail(kPageSize, swap_file_name_);
  swap_extent_ = std::max<int64_t>(swap_extent_, static_cast<int64_t>(Page.StreamOffset) + kPageSize);
}

void TAbVirtualMemoryStream::OpenSwap() {
  if (swap_ != nullptr) return;
  const std::string name = NewTempFile(SwapFolder);
  try {
    swap_ = std::make_unique<TFileStream>(name, fmOpenReadWrite | fmShareExclusive);
  } catch (const Exception&) {
    if (!name.empty()) host::DeleteFile(name);
    throw EAbVMSErrorOpenSwap(name);
  }
  swap_file_name_ = name;
  swap_extent_ = 0;
}

void TAbVirtualMemoryStream::CloseSwap() {
  if (swap_ == nullptr) return;
  swap_.reset();
  host::DeleteFile(swap_file_name_);
}

}  // namespace zipkit
