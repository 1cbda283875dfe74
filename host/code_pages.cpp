#include "host/code_pages.h"

#include "host/host.h"

namespace zipkit::host::cp {

namespace {

// The characters of CP437 bytes 0x80 to 0xFF; 0x00 to 0x7F are ASCII.
const char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// The characters of CP1252 bytes 0x80 to 0x9F; the five unassigned bytes map to the C1 control
// of the same number, as Windows does. 0x00 to 0x7F and 0xA0 to 0xFF are Latin-1.
const char16_t kCp1252C1[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t ByteToCode(uint8_t b, uint32_t CodePage) {
  if (b < 0x80) return b;
  if (CodePage == cpOem437) return kCp437High[b - 0x80];
  if (b < 0xA0) return kCp1252C1[b - 0x80];
  return b;
}

// The byte of Code in a single-byte code page, or -1.
int CodeToByte(char32_t Code, uint32_t CodePage) {
  if (Code < 0x80) return static_cast<int>(Code);
  const char16_t* table = CodePage == cpOem437 ? kCp437High : kCp1252C1;
  const int size = CodePage == cpOem437 ? 128 : 32;
  if (CodePage != cpOem437 && Code >= 0xA0 && Code <= 0xFF) return static_cast<int>(Code);
  for (int i = 0; i < size; ++i)
    if (table[i] == Code) return 0x80 + i;
  return -1;
}

void Append(std::string& Out, char32_t Code, uint32_t To, bool* Exact) {
  if (To == cpUtf8) {
    AppendUtf8(Out, Code);
    return;
  }
  const int b = CodeToByte(Code, To);
  if (b < 0) {
    Out += '?';
    if (Exact != nullptr) *Exact = false;
  } else {
    Out += static_cast<char>(b);
  }
}

bool IsSingleByte(uint32_t CodePage) { return CodePage == cpOem437 || CodePage == cpAnsi1252; }

}  // namespace

bool NextUtf8(std::string_view Text, size_t& Pos, char32_t& Code) {
  const auto at = [&](size_t i) { return static_cast<uint8_t>(Text[i]); };
  const uint8_t b = at(Pos);
  if (b < 0x80) {
    Code = b;
    ++Pos;
    return true;
  }
  int extra;
  char32_t min;
  if ((b & 0xE0) == 0xC0) {
    extra = 1, min = 0x80, Code = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    extra = 2, min = 0x800, Code = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    extra = 3, min = 0x10000, Code = b & 0x07;
  } else {
    ++Pos;
    return false;
  }
  if (Text.size() - Pos <= static_cast<size_t>(extra)) {
    ++Pos;
    return false;
  }
  for (int k = 1; k <= extra; ++k) {
    const uint8_t c = at(Pos + k);
    if ((c & 0xC0) != 0x80) {
      ++Pos;
      return false;
    }
    Code = Code << 6 | (c & 0x3F);
  }
  if (Code < min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) {
    ++Pos;
    return false;
  }
  Pos += 1 + extra;
  return true;
}

void AppendUtf8(std::string& Out, char32_t Code) {
  if (Code < 0x80) {
    Out += static_cast<char>(Code);
  } else if (Code < 0x800) {
    Out += static_cast<char>(0xC0 | Code >> 6);
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else if (Code < 0x10000) {
    Out += static_cast<char>(0xE0 | Code >> 12);
    Out += static_cast<char>(0x80 | (Code >> 6 & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | Code >> 18);
    Out += static_cast<char>(0x80 | (Code >> 12 & 0x3F));
    Out += static_cast<char>(0x80 | (Code >> 6 & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  }
}

std::string Convert(std::string_view Text, uint32_t From, uint32_t To, bool* Exact) {
  if (Exact != nullptr) *Exact = true;
  std::string out;
  out.reserve(Text.size() * (To == cpUtf8 ? 2 : 1));
  if (From == To) {
    out.assign(Text);
    if (From == cpUtf8 && Exact != nullptr) {
      for (size_t i = 0; i < Text.size();) {
        char32_t code;
        if (!NextUtf8(Text, i, code)) *Exact = false;
      }
    }
    return out;
  }
  if (From == cpUtf8) {
    for (size_t i = 0; i < Text.size();) {
      char32_t code;
      if (NextUtf8(Text, i, code)) {
        Append(out, code, To, Exact);
      } else {
        out += '?';
        if (Exact != nullptr) *Exact = false;
      }
    }
    return out;
  }
  for (const char c : Text) Append(out, ByteToCode(static_cast<uint8_t>(c), From), To, Exact);
  return out;
}

std::string FromUtf16(const char16_t* Text, size_t Count, uint32_t To) {
  std::string out;
  out.reserve(Count);
  for (size_t i = 0; i < Count; ++i) {
    char32_t code = Text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < Count && Text[i + 1] >= 0xDC00 &&
        Text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (Text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      out += '?';
      continue;
    }
    Append(out, code, To, nullptr);
  }
  return out;
}

char32_t ToUpper(char32_t c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if (c < 0xE0) return c;
  if (c <= 0xFE) return c == 0xF7 ? c : c - 0x20;  // Latin-1, except the division sign
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A: pairs of capital and small letter; the parity of the capital changes
    // after U+0138 (kra) and again after U+0148 (n with apostrophe).
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
      return (c & 1) && c != 0x131 ? c - 1 : c;
    }
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3CB) return c == 0x3C2 ? 0x3A3 : c - 0x20;  // Greek
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;                         // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

char32_t ToLower(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c < 0xC0) return c;
  if (c <= 0xDE) return c == 0xD7 ? c : c + 0x20;  // Latin-1, except the multiplication sign
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x17F) {
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
      return !(c & 1) && c != 0x130 ? c + 1 : c;
    }
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    return c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

std::string ChangeCase(std::string_view Text, uint32_t CodePage, bool Upper) {
  std::string out;
  out.reserve(Text.size());
  const auto map = [Upper](char32_t c) { return Upper ? ToUpper(c) : ToLower(c); };
  if (IsSingleByte(CodePage)) {
    for (const char ch : Text) {
      const uint8_t b = static_cast<uint8_t>(ch);
      const int mapped = CodeToByte(map(ByteToCode(b, CodePage)), CodePage);
      out += static_cast<char>(mapped < 0 ? b : mapped);
    }
    return out;
  }
  for (size_t i = 0; i < Text.size();) {
    const size_t start = i;
    char32_t code;
    if (NextUtf8(Text, i, code)) {
      AppendUtf8(out, map(code));
    } else {
      out.append(Text.substr(start, i - start));
    }
  }
  return out;
}

}  // namespace zipkit::host::cp
