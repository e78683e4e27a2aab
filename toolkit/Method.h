#pragma once
// Comparable method references: an object and one of its member functions. Two references are
// equal when both the object and the code are; a reference is assigned when its code is set.
#include <cstring>
#include <type_traits>

template <typename... Args>
class TMethod {
 public:
  TMethod() = default;
  TMethod(std::nullptr_t) {}

  template <class C>
  TMethod(C* object, void (C::*code)(Args...)) : FData(object) {
    using Fn = void (C::*)(Args...);
    static_assert(sizeof(Fn) <= sizeof(FCodeBytes), "member function pointer too large");
    std::memcpy(FCodeBytes, &code, sizeof(Fn));
    FInvoke = [](void* data, const unsigned char* bytes, Args... args) {
      Fn fn;
      std::memcpy(&fn, bytes, sizeof(Fn));
      (static_cast<C*>(data)->*fn)(args...);
    };
  }

  bool Assigned() const noexcept { return FInvoke != nullptr; }
  explicit operator bool() const noexcept { return Assigned(); }
  void* Data() const noexcept { return FData; }

  void operator()(Args... args) const { FInvoke(FData, FCodeBytes, args...); }

  friend bool operator==(const TMethod& a, const TMethod& b) noexcept {
    return a.FData == b.FData && a.FInvoke == b.FInvoke &&
           std::memcmp(a.FCodeBytes, b.FCodeBytes, sizeof a.FCodeBytes) == 0;
  }

 private:
  using Invoker = void (*)(void*, const unsigned char*, Args...);
  void* FData = nullptr;
  Invoker FInvoke = nullptr;
  unsigned char FCodeBytes[2 * sizeof(void*)] = {};
};

template <class C, typename... Args>
TMethod<Args...> MakeMethod(C* object, void (C::*code)(Args...)) {
  return TMethod<Args...>(object, code);
}
