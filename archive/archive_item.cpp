#include "archive/archive_item.h"

#include <algorithm>
#include <iterator>

#include "host/exceptions.h"
#include "host/host.h"
#include "support/format.h"
#include "support/names.h"
#include "support/paths.h"

namespace zipkit {

namespace {

// Chain table sizes: the first is the classic 1021; the others are primes near each doubling,
// so that the modulus mixes every bit of the hash.
constexpr uint32_t kTableSizes[] = {
    1021,   2053,    4099,    8191,    16381,   32771,    65537,    131071,   262147,
    524287, 1048573, 2097143, 4194301, 8388593, 16777213, 33554393, 67108859, 134217689,
};

[[noreturn]] void RaiseIndexError(int32_t Index) {
  throw EListError(Format("List index out of bounds (%d)", {Index}));
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

}  // namespace

// ---- TAbArchiveItem ----

TAbArchiveItem::~TAbArchiveItem() {
  if (FList) FList->Detach(*this);
}

void TAbArchiveItem::SetStoredName(const std::string& Value) {
  DoSetStoredName(Value);
  if (FList) FList->Refile(*this);
}

bool TAbArchiveItem::MatchesMask(const std::string& Mask) const {
  std::string pattern = Mask;
  ToBackslashes(pattern);
  std::string drive, folder, name;
  SplitPath(pattern, drive, folder, name);
  pattern = folder + name;
  std::string stored = StoredName();
  ToBackslashes(stored);
  return NameMatchesMask(stored, pattern);
}

// ---- TAbArchiveList ----

TAbArchiveList::TAbArchiveList() : Buckets(kTableSizes[0], nullptr) {}

TAbArchiveList::~TAbArchiveList() { Reset(); }

uint32_t TAbArchiveList::NameHash(const std::string& Name) {
  // ELF (PJW) hash of the upper-cased name; the result stays below 2^28. ASCII names are
  // upper-cased here, others by the host's ANSI rules.
  const bool ascii = std::all_of(Name.begin(), Name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  const std::string upper = ascii ? std::string() : host::AnsiUpperCase(Name);
  uint32_t h = 0;
  for (char ch : ascii ? Name : upper) {
    const unsigned char c = static_cast<unsigned char>(ascii ? AsciiUpper(ch) : ch);
    h = (h << 4) + c;
    const uint32_t g = h & 0xF0000000u;
    if (g != 0) h ^= g >> 24;
    h &= ~g;
  }
  return h;
}

void TAbArchiveList::Reserve(int32_t Count) {
  if (Count <= 0) return;
  Order.reserve(static_cast<size_t>(Count));
  while (Buckets.size() < static_cast<size_t>(Count) &&
         Buckets.size() < kTableSizes[std::size(kTableSizes) - 1])
    Grow();
}

int32_t TAbArchiveList::BucketOf(const std::string& Name) {
  return static_cast<int32_t>(NameHash(Name) % kBucketCount);
}

bool TAbArchiveList::SameName(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (AsciiUpper(A[i]) != AsciiUpper(B[i])) return false;
  return true;
}

void TAbArchiveList::Link(TAbArchiveItem& Item) {
  TAbArchiveItem*& head = Buckets[ChainOf(Item.FNameHash)];
  Item.BucketNext = head;
  head = &Item;
}

void TAbArchiveList::Unlink(TAbArchiveItem& Item) {
  // The item sits in the chain of the hash it was filed under, whatever its name is now.
  TAbArchiveItem** link = &Buckets[ChainOf(Item.FNameHash)];
  while (*link && *link != &Item) link = &(*link)->BucketNext;
  if (*link) *link = Item.BucketNext;
  Item.BucketNext = nullptr;
}

void TAbArchiveList::Grow() {
  const uint32_t* next = std::upper_bound(std::begin(kTableSizes), std::end(kTableSizes),
                                          static_cast<uint32_t>(Buckets.size()));
  if (next == std::end(kTableSizes)) return;
  std::vector<TAbArchiveItem*> old(*next, nullptr);
  old.swap(Buckets);
  // Re-link every old chain from its tail, so that items of equal names keep their order.
  std::vector<TAbArchiveItem*> chain;
  for (TAbArchiveItem* head : old) {
    chain.clear();
    for (TAbArchiveItem* p = head; p; p = p->BucketNext) chain.push_back(p);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) Link(**it);
  }
}

int32_t TAbArchiveList::Append(TAbArchiveItem* Item) {
  if (Item == nullptr || Item->FList != nullptr)
    throw EListError("Item cannot be added to this list");
  if (Order.size() >= static_cast<size_t>(INT32_MAX)) throw EListError("List capacity exceeded");
  Order.push_back(Item);
  Item->FList = this;
  Item->FListIndex = static_cast<int32_t>(Order.size() - 1);
  Item->FNameHash = NameHash(Item->StoredName());
  if (Order.size() > Buckets.size()) Grow();
  Link(*Item);
  return Item->FListIndex;
}

void TAbArchiveList::Reset() {
  for (TAbArchiveItem* item : Order) {
    item->FList = nullptr;
    item->FListIndex = -1;
    item->BucketNext = nullptr;
  }
  Order.clear();
  std::fill(Buckets.begin(), Buckets.end(), nullptr);
}

void TAbArchiveList::RemoveAt(int32_t Index) {
  delete ItemAt(Index);  // the item's destructor takes it out of the list (Detach)
}

void TAbArchiveList::Detach(TAbArchiveItem& Item) {
  Unlink(Item);
  const int32_t index = Item.FListIndex;
  Order.erase(Order.begin() + index);
  for (size_t i = static_cast<size_t>(index); i < Order.size(); ++i)
    Order[i]->FListIndex = static_cast<int32_t>(i);
  Item.FList = nullptr;
  Item.FListIndex = -1;
}

void TAbArchiveList::Refile(TAbArchiveItem& Item) {
  Unlink(Item);
  Item.FNameHash = NameHash(Item.StoredName());
  Link(Item);
}

TAbArchiveItem* TAbArchiveList::FindName(const std::string& Name, bool LiveOnly) const {
  const uint32_t hash = NameHash(Name);
  for (TAbArchiveItem* p = Buckets[ChainOf(hash)]; p; p = p->BucketNext) {
    if (p->FNameHash != hash) continue;
    if (LiveOnly && p->PendingAction == iaDelete) continue;
    if (SameName(p->StoredName(), Name)) return p;
  }
  return nullptr;
}

int32_t TAbArchiveList::IndexOfName(const std::string& Name) const {
  const TAbArchiveItem* item = FindName(Name, false);
  return item ? item->FListIndex : -1;
}

bool TAbArchiveList::HasLiveName(const std::string& Name) const {
  return FindName(Name, true) != nullptr;
}

TAbArchiveItem* TAbArchiveList::ItemAt(int32_t Index) const {
  if (Index < 0 || static_cast<size_t>(Index) >= Order.size()) RaiseIndexError(Index);
  return Order[static_cast<size_t>(Index)];
}

int32_t TAbArchiveList::IndexOf(const TAbArchiveItem* Item) const {
  return (Item && Item->FList == this) ? Item->FListIndex : -1;
}

}  // namespace zipkit
