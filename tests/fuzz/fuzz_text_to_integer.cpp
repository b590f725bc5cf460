// Any byte string: no read past it, and the folded digits agree with a
// plain reading of the folded text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/number_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string folded = qv::FoldFullWidth(text);
  if (folded.size() > text.size()) std::abort();
  const std::int32_t value = qv::TextToInteger(text);
  if (qv::TextToInteger(folded) != value) std::abort();  // folding twice changes nothing
  if (qv::TextToInteger(qv::IntegerToText(value)) != value) std::abort();
  return 0;
}
