// Element types of the alignments record arrays hold (1 to 8: blocks from the allocation seam
// are aligned for any scalar), which count how many are alive.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel::sal::testing {

extern int g_alive;

template <std::size_t kAlignment>
struct alignas(kAlignment) Counted {
  Counted() noexcept { ++g_alive; }
  ~Counted() { --g_alive; }
  unsigned char byte = 0;
};

uint32_t CountElsewhere(const Counted<1>* elements);
uint32_t CountElsewhere(const Counted<4>* elements);
uint32_t CountElsewhere(const Counted<8>* elements);
void ReleaseElsewhere(Counted<1>* elements);
void ReleaseElsewhere(Counted<4>* elements);
void ReleaseElsewhere(Counted<8>* elements);

}  // namespace zel::sal::testing
