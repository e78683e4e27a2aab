#pragma once
// Component base: an owner that destroys what it owns, a name, and the component state
// (being restored from a stored description, hosted by a designer).
#include <cstdint>
#include <string>
#include <vector>

class TObject {
 public:
  virtual ~TObject() = default;
};

// A value object whose settings can be copied as a whole.
class TPersistent : public TObject {};

enum class TComponentStateFlag : std::uint8_t { csLoading = 0x01, csDesigning = 0x02 };

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const noexcept { return FOwner; }
  const std::string& Name() const noexcept { return FName; }
  void SetName(std::string name) { FName = std::move(name); }

  bool Loading() const noexcept { return Has(TComponentStateFlag::csLoading); }
  bool Designing() const noexcept { return Has(TComponentStateFlag::csDesigning); }
  void SetDesigning(bool value) { Set(TComponentStateFlag::csDesigning, value); }

  // Restoring from a stored description: BeginLoading, the property writes, then LoadingDone,
  // which ends the loading state. Descendants override LoadingDone to act on recorded values.
  void BeginLoading() { Set(TComponentStateFlag::csLoading, true); }
  virtual void LoadingDone() { Set(TComponentStateFlag::csLoading, false); }

  const std::vector<TComponent*>& Components() const noexcept { return FComponents; }

 private:
  bool Has(TComponentStateFlag f) const noexcept {
    return (FState & static_cast<std::uint8_t>(f)) != 0;
  }
  void Set(TComponentStateFlag f, bool on) {
    if (on) FState |= static_cast<std::uint8_t>(f);
    else FState &= static_cast<std::uint8_t>(~static_cast<std::uint8_t>(f));
  }

  TComponent* FOwner;
  std::string FName;
  std::uint8_t FState = 0;
  std::vector<TComponent*> FComponents;
};
