#include "scan/lock_registry.h"

#include <utility>

namespace qv {

LockRegistry::Guard::Guard(std::shared_ptr<std::recursive_mutex> lock) : lock_(std::move(lock)) {
  if (lock_) lock_->lock();
}

LockRegistry::Guard& LockRegistry::Guard::operator=(Guard&& other) noexcept {
  if (this != &other) {
    Leave();
    lock_ = std::move(other.lock_);
  }
  return *this;
}

LockRegistry::Guard::~Guard() { Leave(); }

void LockRegistry::Guard::Leave() {
  if (lock_) {
    lock_->unlock();
    lock_.reset();
  }
}

LockId LockRegistry::Create() {
  std::lock_guard<std::mutex> hold(mutex_);
  const LockId id = next_++;
  locks_.emplace(id, std::make_shared<std::recursive_mutex>());
  return id;
}

LockRegistry::Guard LockRegistry::Enter(LockId id) {
  std::shared_ptr<std::recursive_mutex> lock;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    const auto it = locks_.find(id);
    if (it == locks_.end()) return Guard();
    lock = it->second;
  }
  // Waiting happens outside the registry's own mutex, so a deletion never
  // waits for a holder.
  return Guard(std::move(lock));
}

bool LockRegistry::Delete(LockId id) {
  std::lock_guard<std::mutex> hold(mutex_);
  return locks_.erase(id) == 1;
}

bool LockRegistry::Exists(LockId id) const {
  std::lock_guard<std::mutex> hold(mutex_);
  return locks_.count(id) == 1;
}

}  // namespace qv
