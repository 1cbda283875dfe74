// TAbVirtualMemoryStream: a seekable read-write stream kept in 4096-byte pages, of which at most
// a limited number stay in memory; the least recently used ones move out to a swap file. The
// archive writer builds new archives and newly compressed entries in these, without holding
// them whole in memory and without naming a file for them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/stream.h"

namespace zipkit {

// One page of the stream.
struct VmPage {
  int32_t StreamOffset = 0;  // a multiple of 4096: the position of the page's first byte
  int32_t LastUse = 0;       // stamp of the last time the stream switched to this page
  bool Dirty = false;        // differs from what the swap file holds for it
  uint8_t Data[4096];
};

class TAbVirtualMemoryStream : public TStream {
 public:
  static constexpr int32_t kPageSize = 4096;
  static constexpr int32_t kDefaultPages = 25;
  static constexpr int32_t kMaxPages = 256;

  // An empty stream holding one clean zero page at offset 0; no swap file yet.
  TAbVirtualMemoryStream();
  // Closes and deletes the swap file.
  ~TAbVirtualMemoryStream() override;
  TAbVirtualMemoryStream(const TAbVirtualMemoryStream&) = delete;
  TAbVirtualMemoryStream& operator=(const TAbVirtualMemoryStream&) = delete;

  // Shrinking drops the pages past the new end without storing them; growing only changes the
  // size (pages appear when first touched).
  void SetSize(int32_t NewSize) override;
  // Reads up to the size; returns the bytes read.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Writes all Count bytes (extending the stream when they go past its end).
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Origin 0, 1 or 2; any other raises EAbVMSInvalidOrigin. The position may lie past the end.
  // A position below 0 or beyond 2 GiB is refused: the position stays and -1 is returned.
  int32_t Seek(int32_t Offset, uint16_t Origin) override;

  // The bytes of pages that may stay in memory: a whole number of pages from 1 to 256. Setting
  // it rounds up to whole pages and stores and drops the oldest pages above the new limit.
  int32_t MemoryLimit() const { return memory_limit_; }
  void SetMemoryLimit(int32_t Bytes);

  // The folder of the swap file, to be set before the first page is stored; empty means the
  // system's temporary folder.
  std::string SwapFolder;

  // The swap file's full name once it has been made, else "".
  const std::string& SwapFileName() const { return swap_file_name_; }
  // Pages in memory, for the owner's inspection.
  int32_t PagesInMemory() const { return static_cast<int32_t>(pages_.size()); }

 private:
  // The page at Offset (a multiple of 4096), brought into memory when it is not there.
  VmPage* PageFor(int32_t Offset);
  // Index of the page with the smallest stamp (the first of equals).
  size_t OldestPage() const;
  int32_t NextUseStamp();
  void LoadPage(VmPage& Page);
  void StorePage(const VmPage& Page);
  void OpenSwap();
  void CloseSwap();

  VmPage* current_ = nullptr;  // the page of the last access, sparing the search
  int32_t use_counter_ = 0;
  int32_t memory_limit_ = kDefaultPages * kPageSize;
  int32_t page_limit_ = kDefaultPages;
  std::vector<std::unique_ptr<VmPage>> pages_;  // sorted by StreamOffset
  int32_t position_ = 0;
  int32_t size_ = 0;
  std::string swap_file_name_;
  int64_t swap_extent_ = 0;  // end of the stored part of the swap file, a multiple of 4096
  std::unique_ptr<TFileStream> swap_;
};

}  // namespace zipkit
