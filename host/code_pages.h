// Our own code-page conversions: CP437, CP1252 and UTF-8 through Unicode code points, and the
// case mapping of the letters these code pages hold. The POSIX host converts all its text with
// them; both hosts use them for UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zipkit::host::cp {

// Decodes one UTF-8 sequence at Text[Pos]; advances Pos past it. An ill-formed sequence
// (overlong, surrogate, above U+10FFFF, cut short) yields false and advances Pos by one byte.
bool NextUtf8(std::string_view Text, size_t& Pos, char32_t& Code);
void AppendUtf8(std::string& Out, char32_t Code);

// Converts Text from one code page (cpOem437, cpAnsi1252, cpUtf8) to another. A character the
// target cannot hold, or an ill-formed UTF-8 sequence, becomes "?" and clears *Exact. Between
// equal code pages the bytes are kept as they are.
std::string Convert(std::string_view Text, uint32_t From, uint32_t To, bool* Exact = nullptr);

// UTF-16 code units to a code page; an unpaired surrogate becomes "?".
std::string FromUtf16(const char16_t* Text, size_t Count, uint32_t To);

// Upper / lower case of the letters of Latin-1, Latin Extended-A, Greek and Cyrillic (ASCII
// included); every other code point maps to itself. Mappings that would change a character's
// UTF-8 length are left out, so case conversion keeps the byte length.
char32_t ToUpper(char32_t Code);
char32_t ToLower(char32_t Code);
// Case conversion of Text in a code page; bytes that are not characters stay as they are.
std::string ChangeCase(std::string_view Text, uint32_t CodePage, bool Upper);

}  // namespace zipkit::host::cp
