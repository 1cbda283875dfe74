// TAbSet: a set of members of one small enumeration, bit n standing for the member of value n
// (TAbExtractOptions{eoCreateDirs}, Options.Contains(eoRestorePath)).
#pragma once

#include <cstdint>
#include <initializer_list>

namespace zipkit {

template <typename E>
class TAbSet {
 public:
  constexpr TAbSet() = default;
  constexpr TAbSet(std::initializer_list<E> Members) {
    for (E m : Members) bits_ |= Bit(m);
  }

  constexpr bool Contains(E Member) const { return (bits_ & Bit(Member)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TAbSet& Include(E Member) {
    bits_ |= Bit(Member);
    return *this;
  }
  constexpr TAbSet& Exclude(E Member) {
    bits_ &= ~Bit(Member);
    return *this;
  }
  // The set as its bit pattern (bit n: member of value n).
  constexpr uint32_t Bits() const { return bits_; }

  friend constexpr bool operator==(TAbSet a, TAbSet b) { return a.bits_ == b.bits_; }
  friend constexpr TAbSet operator+(TAbSet a, TAbSet b) { return FromBits(a.bits_ | b.bits_); }
  friend constexpr TAbSet operator-(TAbSet a, TAbSet b) { return FromBits(a.bits_ & ~b.bits_); }
  friend constexpr TAbSet operator*(TAbSet a, TAbSet b) { return FromBits(a.bits_ & b.bits_); }

 private:
  static constexpr uint32_t Bit(E m) { return uint32_t{1} << static_cast<uint32_t>(m); }
  static constexpr TAbSet FromBits(uint32_t b) {
    TAbSet s;
    s.bits_ = b;
    return s;
  }
  uint32_t bits_ = 0;
};

}  // namespace zipkit
