#include "scan/echo_watch.h"

namespace qv {

void EchoWatch::Ticket::Answered() {
  if (owner() != nullptr) owner()->RecordAnswer();
}

EchoWatch::Ticket EchoWatch::Begin(std::uint32_t timeoutMs) {
  const std::uint64_t now = clock_();
  const std::lock_guard<std::mutex> hold(mutex_);
  if (due_.empty()) stretchStartMs_ = now;
  return Ticket(this, {began_.insert(now), due_.insert(now + timeoutMs), timeouts_.insert(timeoutMs)});
}

void EchoWatch::End(const Places& places) {
  const std::uint64_t now = clock_();
  const std::lock_guard<std::mutex> hold(mutex_);
  began_.erase(places.began);
  due_.erase(places.due);
  timeouts_.erase(places.timeout);
  if (due_.empty()) unansweredBeforeMs_ = UnansweredMs(now);
}

void EchoWatch::RecordAnswer() {
  const std::uint64_t now = clock_();
  const std::lock_guard<std::mutex> hold(mutex_);
  unansweredBeforeMs_ = 0;
  stretchStartMs_ = now;
  lastAnswerMs_ = now;
  answered_ = true;
}

std::uint64_t EchoWatch::UnansweredMs(std::uint64_t nowMs) const {
  const std::uint64_t present = nowMs > stretchStartMs_ ? nowMs - stretchStartMs_ : 0;
  return unansweredBeforeMs_ + present;
}

std::size_t EchoWatch::Count() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return due_.size();
}

// Both may hold at one look: an answer that came after every pending echo
// began tells a lost echo from a silent service.
EchoWatch::Verdict EchoWatch::Judge(std::uint32_t graceMs) const {
  const std::uint64_t now = clock_();
  const std::lock_guard<std::mutex> hold(mutex_);
  if (due_.empty()) return Verdict::kAnswering;
  const bool lost = now > *due_.rbegin() + graceMs;
  if (lost && answered_ && lastAnswerMs_ >= *began_.rbegin()) return Verdict::kOnlyLostEchoes;
  if (UnansweredMs(now) > std::uint64_t{*timeouts_.rbegin()} + graceMs) return Verdict::kSilent;
  return lost ? Verdict::kOnlyLostEchoes : Verdict::kAnswering;
}

}  // namespace qv
