#pragma once
// A small set of enumeration values held as a bit field: element n at bit n.
#include <cstdint>
#include <initializer_list>

template <typename E, typename Bits>
class TComSet {
 public:
  constexpr TComSet() = default;
  constexpr TComSet(std::initializer_list<E> elements) {
    for (E e : elements) Include(e);
  }
  static constexpr TComSet FromBits(Bits bits) {
    TComSet s;
    s.FBits = bits;
    return s;
  }

  constexpr Bits RawBits() const noexcept { return FBits; }
  constexpr bool Empty() const noexcept { return FBits == 0; }
  constexpr bool Contains(E e) const noexcept { return (FBits & Bit(e)) != 0; }
  constexpr TComSet& Include(E e) noexcept {
    FBits = static_cast<Bits>(FBits | Bit(e));
    return *this;
  }
  constexpr TComSet& Exclude(E e) noexcept {
    FBits = static_cast<Bits>(FBits & ~Bit(e));
    return *this;
  }
  friend constexpr bool operator==(TComSet, TComSet) = default;

 private:
  static constexpr Bits Bit(E e) noexcept {
    return static_cast<Bits>(Bits{1} << static_cast<unsigned>(e));
  }
  Bits FBits = 0;
};
