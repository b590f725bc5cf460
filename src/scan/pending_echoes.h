#pragma once
// Echoes that have been sent and have not returned yet, each with the time by
// which it should have returned. The program keeps one such record for the
// whole process (it ends only when its echoes have returned) and one per
// scan (a scan whose echoes are long overdue ends). Times are milliseconds of
// a clock the caller reads.
// Portable: no platform headers.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>

#include "base/pending_entry.h"

namespace qv {

class PendingEchoes {
 public:
  using Due = std::multiset<std::uint64_t>::const_iterator;

  // One pending echo, from Begin until the ticket goes.
  using Ticket = PendingEntry<PendingEchoes, Due>;

  PendingEchoes() = default;
  PendingEchoes(const PendingEchoes&) = delete;
  PendingEchoes& operator=(const PendingEchoes&) = delete;

  // An echo due back by dueMs begins; an empty ticket once closed: no echo
  // may begin any more.
  Ticket Begin(std::uint64_t dueMs);
  void Close();

  std::size_t Count() const;
  std::optional<std::uint64_t> EarliestDue() const;
  std::optional<std::uint64_t> LatestDue() const;

  // Waits up to waitMs until no echo is pending; whether none is.
  bool WaitUntilNone(std::uint32_t waitMs);

 private:
  friend Ticket;
  void End(Due due);

  mutable std::mutex mutex_;
  std::condition_variable none_;
  std::multiset<std::uint64_t> due_;
  bool closed_ = false;
};

}  // namespace qv
