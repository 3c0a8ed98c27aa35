// What the fuzz harnesses share: a byte cursor over the input and a check that fails loudly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace zel::fuzz {

// A finding: print where and stop (libFuzzer reports the input that led here).
#define ZEL_FUZZ_CHECK(condition)                                                      \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__,    \
                   __LINE__);                                                          \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

// The first input byte picks what to exercise; the rest is the bytes under test.
struct Input {
  uint8_t selector = 0;
  std::vector<uint8_t> bytes;
  Input(const uint8_t* data, size_t size) {
    if (size == 0) return;
    selector = data[0];
    bytes.assign(data + 1, data + size);
  }
};

}  // namespace zel::fuzz
