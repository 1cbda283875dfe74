#include "unzip/unshrink.h"

#include <cstring>
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

  uint16_t parent[kTableSize];
  uint8_t suffix[kTableSize];
  uint16_t length[kTableSize];  // length of the string when the code was defined
  uint8_t stack[kTableSize];    // one string, last byte first
  uint8_t prefix[kTableSize];   // during a partial clear: the code is some code's prefix

  Dictionary() {
    for (int c = 0; c < kTableSize; ++c) {
      parent[c] = c < 256 ? 0 : kFree;
      suffix[c] = static_cast<uint8_t>(c < 256 ? c : 0);
      length[c] = 1;
    }
  }

  // Frees the leaves among the codes from 257 below NextFree (those that are no other code's
  // prefix) and returns the lowest free code. Every code in that range is in use; only a prefix
  // inside it matters (one outside is not freed anyway).
  uint32_t PartialClear(uint32_t NextFree) {
    std::memset(prefix, 0, sizeof prefix);
    for (uint32_t c = kFirstFree; c < NextFree; ++c) prefix[parent[c]] = 1;
    uint32_t next = kCodeLimit;
    for (uint32_t c = NextFree; c-- > kFirstFree;) {
      if (prefix[c]) continue;
      parent[c] = kFree;
      next = c;
    }
    if (next == kCodeLimit) {  // nothing freed below: the first free code above
      next = NextFree;
      while (next < kCodeLimit && parent[next] != kFree) ++next;
    }
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
    int32_t last_length = 1;                    // and its length
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

      // Most codes are written straight into the output, back to front, their length known
      // from when they were defined. The walk checks that length as it goes; when it does not
      // hold (the code is not defined yet, a prefix was freed and used again, damaged data),
      // the string is unwound onto the stack instead.
      const uint32_t in_code = code;
      int32_t length = 0;
      if (parent[code] != Dictionary::kFree) {
        length = dict->length[code];
        if (uint8_t* const d = out.Room(length)) {
          uint8_t* p = d + length;
          while (code >= kFirstFree && p != d + 1 && parent[code] != Dictionary::kFree) {
            *--p = suffix[code];
            code = parent[code];
          }
          if (code < kFirstFree && p == d + 1) {
            *d = first = suffix[code];
            out.Commit(length);
          } else {
            code = in_code;
            length = 0;
          }
        } else {
          length = 0;
        }
      }
      if (length == 0) {
        // A code not yet defined is the previous string plus its own first byte. Damaged data
        // can send the walk round in circles: the stack's size bounds every string of a valid
        // stream.
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
        length = depth + 1;
      }

      if (next_free < kCodeLimit) {
        parent[next_free] = static_cast<uint16_t>(old);
        dict->suffix[next_free] = first;
        dict->length[next_free] = static_cast<uint16_t>(last_length + 1);
        do ++next_free;
        while (next_free < kCodeLimit && parent[next_free] != Dictionary::kFree);
      }
      last_length = length;
      old = in_code;
    }
  } catch (...) {
    out.Abandon();
    throw;
  }
  out.Finish();
}

}  // namespace zipkit::legacy
