#pragma once
// The scan's lock service. Locks live in a registry: entering or leaving a
// lock that is not registered (never created, or already deleted) does
// nothing, and deleting it again reports false. A thread that still holds a
// lock when it is deleted keeps it alive until it leaves, so deleting the
// lock while workers run (the window closing mid-scan) harms nobody.
// Portable: no platform headers.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace qv {

using LockId = std::uint32_t;

class LockRegistry {
 public:
  class Guard {
   public:
    Guard() = default;
    explicit Guard(std::shared_ptr<std::recursive_mutex> lock);
    Guard(Guard&&) noexcept = default;
    Guard& operator=(Guard&&) noexcept;
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    ~Guard();
    bool holds() const { return lock_ != nullptr; }

   private:
    void Leave();
    std::shared_ptr<std::recursive_mutex> lock_;
  };

  LockId Create();
  // Waits for the lock when it is registered; an empty guard otherwise.
  Guard Enter(LockId id);
  bool Delete(LockId id);
  bool Exists(LockId id) const;

 private:
  mutable std::mutex mutex_;
  std::map<LockId, std::shared_ptr<std::recursive_mutex>> locks_;
  LockId next_ = 1;
};

}  // namespace qv
