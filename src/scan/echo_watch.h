#pragma once
// What one scan knows of its echo service: the echoes it has sent that have
// not returned yet, each with its time-out, and how long echoes have been
// pending since the service last answered one. Times are milliseconds of
// the clock the watch is given (the engine's does not count time asleep).
//
// The service counts as silent only when echoes are pending and, for the
// largest pending time-out plus a grace, echoes have been pending without
// the service answering any: one echo held up in a busy service, among
// others that come back, never makes it so, and neither does time in which
// the scan had no echo under way (waiting for room to start its workers).
// Portable: no platform headers.

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>

#include "base/pending_entry.h"

namespace qv {

class EchoWatch {
 public:
  using Clock = std::function<std::uint64_t()>;

  // Where a pending echo stands in each of the records.
  struct Places {
    std::multiset<std::uint64_t>::const_iterator began;
    std::multiset<std::uint64_t>::const_iterator due;
    std::multiset<std::uint32_t>::const_iterator timeout;
  };

  // One pending echo, from Begin until the ticket goes; Answered says that
  // the service answered it (a reply, a time-out or a failure other than a
  // refusal for resources).
  class Ticket : public PendingEntry<EchoWatch, Places> {
   public:
    Ticket() = default;
    void Answered();

   private:
    friend class EchoWatch;
    using PendingEntry::PendingEntry;
  };

  explicit EchoWatch(Clock clock) : clock_(std::move(clock)) {}
  EchoWatch(const EchoWatch&) = delete;
  EchoWatch& operator=(const EchoWatch&) = delete;

  Ticket Begin(std::uint32_t timeoutMs);

  std::size_t Count() const;

  enum class Verdict {
    // Nothing pending, or the service may still answer what is.
    kAnswering,
    // Echoes are pending, and have been, unanswered, for longer than the
    // largest pending time-out plus the grace.
    kSilent,
    // Every pending echo is past its own time-out plus the grace, and the
    // service has answered since the last of them began (or, with gaps in
    // which nothing was pending, is not silent yet): lost on the way.
    kOnlyLostEchoes,
  };
  Verdict Judge(std::uint32_t graceMs) const;

 private:
  friend PendingEntry<EchoWatch, Places>;
  void End(const Places& places);
  void RecordAnswer();
  // Time with echoes pending since the last answer; under the mutex.
  std::uint64_t UnansweredMs(std::uint64_t nowMs) const;

  const Clock clock_;
  mutable std::mutex mutex_;
  std::multiset<std::uint64_t> began_;
  std::multiset<std::uint64_t> due_;
  std::multiset<std::uint32_t> timeouts_;
  // Unanswered time of earlier stretches with echoes pending, and where the
  // present stretch (or its part since the last answer) began.
  std::uint64_t unansweredBeforeMs_ = 0;
  std::uint64_t stretchStartMs_ = 0;
  std::uint64_t lastAnswerMs_ = 0;
  bool answered_ = false;
};

}  // namespace qv
