// TAbStringResource: the reader of message tables in the STR0 format, carried as raw-data
// resources of the program.
//
// STR0, little-endian: "STR0", the entry count (int32), count entries of 12 bytes (id, byte
// offset of the text from the table's first byte, length in UTF-16 units; all int32) sorted by
// ascending id, then the UTF-16LE texts. Lookups stay within the resource's size: an entry or
// text that would reach beyond it counts as missing.
#pragma once

#include <cstdint>
#include <string>

#include "host/host.h"

namespace zipkit {

class TAbStringResource {
 public:
  // A reader with RaiseOnMissing off; attaches to ResourceName unless it is empty.
  TAbStringResource(host::TModule Instance, const std::string& ResourceName);
  ~TAbStringResource();
  TAbStringResource(const TAbStringResource&) = delete;
  TAbStringResource& operator=(const TAbStringResource&) = delete;

  // Releases the current table, then opens ResourceName unless it is empty. Raises
  // EKroStringResourceError when the resource is missing, cannot be loaded or is no STR0 table.
  void Attach(host::TModule Instance, const std::string& ResourceName);

  // The text of Id converted to ANSI; "" for a missing id (or EKroStringResourceError
  // "String not found: %d" when RaiseOnMissing is set). Raises "Cannot lock resource" when the
  // reader holds no table.
  std::string TextOf(int32_t Id);
  // Writes the text of Id, cut in whole UTF-16 units to fit, and a zero byte into Buffer of
  // BufferSize bytes; a missing id gives an empty buffer. Returns Buffer.
  char* CopyText(int32_t Id, char* Buffer, int32_t BufferSize);

  // True while a table is loaded (also one that failed the magic check).
  bool HasTable() const { return resource_ != 0; }

  bool RaiseOnMissing = false;

 private:
  struct TEntry {
    int32_t Id;
    int32_t Offset;
    int32_t Length;
  };

  void OpenTable(host::TModule Instance, const std::string& ResourceName);
  void LoadTable(host::TModule Instance, const std::string& ResourceName);
  void LockTable();
  void UnlockTable();
  void ReleaseTable();
  // The entry of Id in the locked table; false when it is absent.
  bool FindEntry(int32_t Id, TEntry& Entry);
  std::u16string UnitsOf(const TEntry& Entry) const;

  host::TResHandle resource_ = 0;
  int32_t size_ = 0;                  // bytes of the loaded resource
  const uint8_t* table_ = nullptr;   // first byte while locked
};

// The process-wide readers: ReaderStrings reads "ABSRMGR_STRINGS" (the reader's own failure
// texts), EngineStrings "AB_STRINGS_ENGLISH" (every other text of the engine). ReaderStrings is
// made first and destroyed last; both live until the process ends.
TAbStringResource& ReaderStrings();
TAbStringResource& EngineStrings();

}  // namespace zipkit
