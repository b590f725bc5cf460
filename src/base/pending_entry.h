#pragma once
// One entry of an owner's record of things under way, ended exactly once:
// when the entry goes, or when another is moved over it. The owner makes
// entries and is told, through its End(Place), when one ends; it must
// outlive them. Portable: no platform headers.

#include <utility>

namespace qv {

template <class Owner, class Place>
class PendingEntry {
 public:
  PendingEntry() = default;
  PendingEntry(PendingEntry&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)), place_(other.place_) {}
  PendingEntry& operator=(PendingEntry&& other) noexcept {
    if (this != &other) {
      End();
      owner_ = std::exchange(other.owner_, nullptr);
      place_ = other.place_;
    }
    return *this;
  }
  PendingEntry(const PendingEntry&) = delete;
  PendingEntry& operator=(const PendingEntry&) = delete;
  ~PendingEntry() { End(); }
  explicit operator bool() const { return owner_ != nullptr; }

 protected:
  friend Owner;
  PendingEntry(Owner* owner, Place place) : owner_(owner), place_(place) {}
  Owner* owner() const { return owner_; }

 private:
  void End() {
    if (owner_ != nullptr) std::exchange(owner_, nullptr)->End(place_);
  }

  Owner* owner_ = nullptr;
  Place place_{};
};

}  // namespace qv
