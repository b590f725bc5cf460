#include "scan/pending_echoes.h"

namespace qv {

PendingEchoes::Ticket PendingEchoes::Begin(std::uint64_t dueMs) {
  const std::lock_guard<std::mutex> hold(mutex_);
  if (closed_) return {};
  return Ticket(this, due_.insert(dueMs));
}

void PendingEchoes::Close() {
  const std::lock_guard<std::mutex> hold(mutex_);
  closed_ = true;
}

void PendingEchoes::End(Due due) {
  const std::lock_guard<std::mutex> hold(mutex_);
  due_.erase(due);
  if (due_.empty()) none_.notify_all();
}

std::size_t PendingEchoes::Count() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return due_.size();
}

std::optional<std::uint64_t> PendingEchoes::EarliestDue() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  if (due_.empty()) return std::nullopt;
  return *due_.begin();
}

std::optional<std::uint64_t> PendingEchoes::LatestDue() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  if (due_.empty()) return std::nullopt;
  return *due_.rbegin();
}

bool PendingEchoes::WaitUntilNone(std::uint32_t waitMs) {
  std::unique_lock<std::mutex> hold(mutex_);
  return none_.wait_for(hold, std::chrono::milliseconds(waitMs), [&] { return due_.empty(); });
}

}  // namespace qv
