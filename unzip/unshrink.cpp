#include "unzip/unshrink.h"

#include <memory>

namespace zipkit::legacy {
namespace {

constexpr int kTableSize = 8193;  // codes 0 to 8192
constexpr uint32_t kControl = 256;
constexpr uint32_t kFirstFree = 257;
constexpr uint32_t kCodeLimit = 8192;  // new codes stay below this
constexpr int kMaxCodeSize = 13;

// The dictionary: a code's string is its parent's string followed by its suffix byte.
// Codes 0 to 255 are the bytes themselves.
struct Dictionary {
  static constexpr uint16_t kFree = 0xFFFF;
  static constexpr uint16_t kMark = 0x8000;  // set during a partial clear

  uint16_t parent[kTableSize];
  uint8_t suffix[kTableSize];
  uint8_t stack[kTableSize];  // one string, last byte first

  Dictionary() {
    for (int c = 0; c < kTableSize; ++c) {
      parent[c] = c < 256 ? 0 : kFree;
      suffix[c] = static_cast<uint8_t>(c < 256 ? c : 0);
    }
  }

  // Frees the leaves among the codes from 257 below NextFree (those that are no other code's
  // prefix) and returns the lowest free code.
  uint32_t PartialClear(uint32_t NextFree) {
    for (uint32_t c = kFirstFree; c < NextFree; ++c) parent[c] |= kMark;
    for (uint32_t c = kFirstFree; c < NextFree; ++c) {
      const uint32_t p = parent[c] & ~kMark & 0xFFFF;
      // A prefix survives. A free parent (only in damaged data) stays free.
      if (p >= kFirstFree && parent[p] != kFree) parent[p] &= static_cast<uint16_t>(~kMark);
    }
    for (uint32_t c = kFirstFree; c < NextFree; ++c)
      if (parent[c] & kMark) parent[c] = kFree;
    uint32_t next = kFirstFree;
    while (next < kCodeLimit && parent[next] != kFree) ++next;
    return next;
  }
};

}  // namespace

void Unshrink(Input& In, Output& Out, int64_t Expected) {
  BitReader in(In);
  BlockWriter out(Out, Expected);
  try {
    auto dict = std::make_unique<Dictionary>();
    uint16_t* const parent = dict->parent;
    const uint8_t* const suffix = dict->suffix;
    uint8_t* const stack = dict->stack;
    int code_size = 9;
    uint32_t next_free = kFirstFree;

    uint32_t old = in.Bits(9);
    if (in.Ended()) {
      out.Finish();
      return;
    }
    uint8_t first = static_cast<uint8_t>(old);  // first byte of the last string put out
    out.Put(first);

    while (!in.Ended()) {
      uint32_t code = in.Bits(code_size);
      while (code == kControl) {
        const uint32_t sub = in.Bits(code_size);
        if (in.Ended()) break;
        if (sub == 1) {
          // Codes index tables of 8193 entries: 13 bits is as wide as they go.
          if (code_size == kMaxCodeSize)
            throw CorruptInput("shrunk data widens codes past 13 bits");
          ++code_size;
        } else if (sub == 2) {
          next_free = dict->PartialClear(next_free);
        }
        code = in.Bits(code_size);
      }
      if (in.Ended()) break;  // the last code is incomplete: not used

      // Unwind the string onto the stack. A code not yet defined is the previous string plus
      // its own first byte. Damaged data can send the walk round in circles: the stack's size
      // bounds every string of a valid stream.
      const uint32_t in_code = code;
      int depth = 0;
      if (parent[code] == Dictionary::kFree) {
        stack[depth++] = first;
        code = old;
      }
      while (code >= kFirstFree) {
        if (depth == kTableSize) throw CorruptInput("shrunk data holds a string that never ends");
        if (parent[code] == Dictionary::kFree) {
          stack[depth++] = first;
          code = old;
        } else {
          stack[depth++] = suffix[code];
          code = parent[code];
        }
      }
      first = suffix[code];
      out.Put(first);
      out.PutReversed(stack + depth, depth);

      if (next_free < kCodeLimit) {
        parent[next_free] = static_cast<uint16_t>(old);
        dict->suffix[next_free] = first;
        do ++next_free;
        while (next_free < kCodeLimit && parent[next_free] != Dictionary::kFree);
      }
      old = in_code;
    }
  } catch (...) {
    out.Abandon();
    throw;
  }
  out.Finish();
}

}  // namespace zipkit::legacy
