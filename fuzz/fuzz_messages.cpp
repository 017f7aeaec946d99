// Arbitrary text as a HELLO, a CONFIG and a Status message.
#include <cstdint>
#include <string_view>

#include "app/link/messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  HelloMessage hello = ReadHello(text);
  (void)TruncatedInt(hello.v);
  ConfigMessage config = ReadConfig(text);
  (void)ResolutionIndex(TruncatedInt(config.width), TruncatedInt(config.height));
  (void)RateIndex(TruncatedInt(config.fps));
  StatusMessage status = ReadStatus(text);
  if (status.focusModes > 7) __builtin_trap();
  if (((status.rates[0] | status.rates[1] | status.rates[2]) & ~3)) __builtin_trap();
  return 0;
}
