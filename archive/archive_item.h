// TAbArchiveItem, one entry of an archive seen independently of its format, and TAbArchiveList,
// the entries of one archive in archive order, found by name through hash chains.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zipkit {

// The change an item waits for until the next save.
enum TAbItemAction : uint8_t {
  iaVoid = 0,           // never assigned; the saver leaves it alone
  iaUnchanged = 1,      // no pending change (new and loaded items start here)
  iaAdd = 2,            // compress from DiskName at the next save
  iaDelete = 3,         // drop at the next save; name checks ignore it
  iaFreshen = 4,        // recompress from DiskName, which changed
  iaMove = 5,           // stored name changed; data copied unchanged
  iaReplace = 6,        // recompress from DiskName unconditionally
  iaAddFromStream = 7,  // new entry whose data comes from the archive's SourceStream
};

class TAbArchiveList;

class TAbArchiveItem {
 public:
  TAbArchiveItem() = default;
  // An item still held by a list leaves it first, so no chain keeps a freed item.
  virtual ~TAbArchiveItem();
  TAbArchiveItem(const TAbArchiveItem&) = delete;
  TAbArchiveItem& operator=(const TAbArchiveItem&) = delete;

  // The eight properties. Everything outside the item reads and writes them through these
  // virtual accessors; a format's item answers from its own header fields.
  virtual int32_t PackedSize() const { return FPackedSize; }
  virtual uint32_t Checksum() const { return FChecksum; }
  virtual uint32_t Attributes() const { return FAttributes; }
  virtual std::string StoredName() const { return FStoredName; }
  virtual bool Encrypted() const { return FEncrypted; }
  virtual uint16_t FileDate() const { return FFileDate; }
  virtual uint16_t FileTime() const { return FFileTime; }
  virtual int32_t UnpackedSize() const { return FUnpackedSize; }

  virtual void SetPackedSize(int32_t Value) { FPackedSize = Value; }
  virtual void SetChecksum(uint32_t Value) { FChecksum = Value; }
  virtual void SetAttributes(uint32_t Value) { FAttributes = Value; }
  // Renaming goes through here: the format stores the name (DoSetStoredName), then the owning
  // list re-files the item under its new name.
  void SetStoredName(const std::string& Value);
  virtual void SetEncrypted(bool Value) { FEncrypted = Value; }
  virtual void SetFileDate(uint16_t Value) { FFileDate = Value; }
  virtual void SetFileTime(uint16_t Value) { FFileTime = Value; }
  virtual void SetUnpackedSize(int32_t Value) { FUnpackedSize = Value; }

  // Whether the stored name matches a file mask ("*.*", "sub\*.dat", "C:\*.*").
  bool MatchesMask(const std::string& Mask) const;

  // The list that holds this item, or none.
  TAbArchiveList* List() const { return FList; }

  // Plain fields.
  TAbItemAction PendingAction = iaUnchanged;
  std::string DiskName;  // file on disk the entry is added from or freshened against

 protected:
  virtual void DoSetStoredName(const std::string& Value) { FStoredName = Value; }

 private:
  friend class TAbArchiveList;

  // Chain bookkeeping, maintained by the owning list only.
  TAbArchiveItem* BucketNext = nullptr;
  TAbArchiveList* FList = nullptr;
  int32_t FListIndex = -1;  // position in the list's Order
  uint32_t FNameHash = 0;   // hash the item is filed under

  int32_t FPackedSize = 0;
  uint32_t FChecksum = 0;
  uint32_t FAttributes = 0;
  std::string FStoredName;
  bool FEncrypted = false;
  uint16_t FFileTime = 0;
  uint16_t FFileDate = 0;
  int32_t FUnpackedSize = 0;
};

// The items of one archive. The list holds references: the archive owns and frees its items,
// except RemoveAt, which frees the item it removes.
//
// Names are hashed with the ELF hash of their upper-cased form into chains, newest item first.
// The table starts with 1021 chains and grows with the list, so that a lookup stays constant
// time however many items there are; every item knows its position in Order.
class TAbArchiveList {
 public:
  static constexpr int32_t kBucketCount = 1021;

  TAbArchiveList();
  ~TAbArchiveList();
  TAbArchiveList(const TAbArchiveList&) = delete;
  TAbArchiveList& operator=(const TAbArchiveList&) = delete;

  // Puts the item at the end of the order and at the front of its name's chain; returns its
  // index. An item that belongs to a list already raises EListError.
  int32_t Append(TAbArchiveItem* Item);
  // Forgets every item without freeing it.
  void Reset();
  // Unlinks and frees the item at Index; later items move down by one.
  void RemoveAt(int32_t Index);
  // Position of the most recently filed item of that name (ASCII case ignored), or -1.
  int32_t IndexOfName(const std::string& Name) const;
  // Whether an item of that name is held whose action is not iaDelete.
  bool HasLiveName(const std::string& Name) const;
  // The item at Index; EListError outside 0 .. ItemCount - 1.
  TAbArchiveItem* ItemAt(int32_t Index) const;
  int32_t ItemCount() const { return static_cast<int32_t>(Order.size()); }
  // Room for Count items, so that appending them neither moves the order nor re-files.
  void Reserve(int32_t Count);
  // Position of an item of this list, or -1 for an item that is not in it.
  int32_t IndexOf(const TAbArchiveItem* Item) const;

  // The bucket of a name among 1021: the ELF hash of its ANSI upper-case form, modulo 1021.
  static int32_t BucketOf(const std::string& Name);
  // Names are equal when they have the same length and the same bytes once ASCII a..z are
  // mapped to A..Z; no other byte is folded.
  static bool SameName(std::string_view A, std::string_view B);

 private:
  friend class TAbArchiveItem;

  static uint32_t NameHash(const std::string& Name);
  size_t ChainOf(uint32_t Hash) const { return Hash % Buckets.size(); }
  TAbArchiveItem* FindName(const std::string& Name, bool LiveOnly) const;
  void Link(TAbArchiveItem& Item);
  void Unlink(TAbArchiveItem& Item);
  void Grow();
  // Called by an item that is renamed, or destroyed while listed.
  void Refile(TAbArchiveItem& Item);
  void Detach(TAbArchiveItem& Item);

  std::vector<TAbArchiveItem*> Order;    // archive order
  std::vector<TAbArchiveItem*> Buckets;  // chain heads
};

}  // namespace zipkit
