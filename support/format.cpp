#include "support/format.h"

#include <cstdlib>

namespace zipkit {

namespace {

std::string Digits(int64_t Value, bool Hex) {
  // Magnitude as unsigned so that the most negative value converts too.
  uint64_t v = Value < 0 ? 0 - static_cast<uint64_t>(Value) : static_cast<uint64_t>(Value);
  if (Hex) v = static_cast<uint32_t>(Value);  // %x shows the 32-bit pattern
  const char* digits = "0123456789ABCDEF";
  const unsigned base = Hex ? 16 : 10;
  std::string out;
  do {
    out.insert(out.begin(), digits[v % base]);
    v /= base;
  } while (v != 0);
  return out;
}

}  // namespace

std::string Format(std::string_view Fmt, std::initializer_list<TFormatArg> Args) {
  std::string out;
  out.reserve(Fmt.size() + 16);
  auto next = Args.begin();
  size_t i = 0;
  while (i < Fmt.size()) {
    const char c = Fmt[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < Fmt.size() && Fmt[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    // %[-][width][.precision]type
    size_t j = i + 1;
    bool left = false;
    if (j < Fmt.size() && Fmt[j] == '-') {
      left = true;
      ++j;
    }
    auto number = [&](int& value) {
      value = -1;
      while (j < Fmt.size() && Fmt[j] >= '0' && Fmt[j] <= '9') {
        value = (value < 0 ? 0 : value) * 10 + (Fmt[j] - '0');
        if (value > 4096) value = 4096;  // a hostile width must not allocate much
        ++j;
      }
    };
    int width = -1;
    int precision = -1;
    number(width);
    if (j < Fmt.size() && Fmt[j] == '.') {
      ++j;
      number(precision);
      if (precision < 0) precision = 0;
    }
    const char type = j < Fmt.size() ? Fmt[j] : '\0';
    const bool integer = type == 'd' || type == 'u' || type == 'x' || type == 'X';
    const bool string = type == 's' || type == 'S';
    if ((!integer && !string) || next == Args.end() || next->IsInteger() != integer) {
      // Not understood or no argument for it: copy the placeholder as it stands.
      const size_t end = j < Fmt.size() ? j + 1 : j;
      out.append(Fmt.substr(i, end - i));
      i = end;
      continue;
    }
    std::string field;
    if (integer) {
      const int64_t v = next->Integer();
      const bool hex = type == 'x' || type == 'X';
      std::string digits = Digits(v, hex);
      if (precision >= 0 && digits.size() < static_cast<size_t>(precision))
        digits.insert(0, static_cast<size_t>(precision) - digits.size(), '0');
      field = (!hex && v < 0 ? "-" : "") + digits;
    } else {
      std::string_view s = next->String();
      if (precision >= 0 && s.size() > static_cast<size_t>(precision)) s = s.substr(0, precision);
      field.assign(s);
    }
    ++next;
    if (width >= 0 && field.size() < static_cast<size_t>(width)) {
      const size_t pad = static_cast<size_t>(width) - field.size();
      if (left) {
        field.append(pad, ' ');
      } else {
        field.insert(0, pad, ' ');
      }
    }
    out += field;
    i = j + 1;
  }
  return out;
}

}  // namespace zipkit
