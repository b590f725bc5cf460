#pragma once
// What one echo came to. Portable: no platform headers.

#include <cstdint>

namespace qv {

// The reply time in milliseconds, or -1; and whether the echo service
// answered the request at all (a reply, a time-out or another failure), as
// against refusing it for want of resources until its time-out ran out. A
// scan judges the service by the second, the host by the first.
struct EchoOutcome {
  std::int32_t replyMs = -1;
  bool serviceAnswered = true;
};

}  // namespace qv
