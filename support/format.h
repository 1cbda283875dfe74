// Format: fills the placeholders of a message text. Understands %d, %u, %x (upper-case digits),
// %s and %%, each with optional "-", width and precision ("%3.3d", "%.2d", "%-10s"); for
// integers the precision is the least number of digits, for strings the most characters. A
// placeholder without a fitting argument is copied unchanged.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace zipkit {

// One argument; it refers to the caller's string, so it lives only for the call.
class TFormatArg {
 public:
  template <typename T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
  TFormatArg(T V) : is_int_(true), int_(static_cast<int64_t>(V)) {}
  TFormatArg(const std::string& V) : is_int_(false), str_(V) {}
  TFormatArg(const char* V) : is_int_(false), str_(V) {}
  TFormatArg(std::string_view V) : is_int_(false), str_(V) {}

  bool IsInteger() const { return is_int_; }
  int64_t Integer() const { return int_; }
  std::string_view String() const { return str_; }

 private:
  bool is_int_;
  int64_t int_ = 0;
  std::string_view str_;
};

std::string Format(std::string_view Fmt, std::initializer_list<TFormatArg> Args);

}  // namespace zipkit
