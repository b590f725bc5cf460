#pragma once
// What one echo came to. Portable: no platform headers.

#include <cstdint>

namespace qv {

// The reply time in milliseconds, or -1; whether the echo service answered
// the request at all (a reply, a time-out or another failure), as against
// refusing it for want of resources until its time-out ran out; and whether
// there was an echo service at all: false when no echo can be sent (the
// platform's echo functions are missing, or it opens no ICMP handle). A scan
// judges the service by the last two, the host by the first; without a
// service it learns nothing of any host.
struct EchoOutcome {
  std::int32_t replyMs = -1;
  bool serviceAnswered = true;
  bool serviceAvailable = true;
};

// The outcome of every echo where no echo can be sent.
constexpr EchoOutcome kNoEchoService{-1, false, false};

}  // namespace qv
