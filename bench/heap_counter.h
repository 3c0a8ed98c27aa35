// Counts every operator new of a benchmark process, to show what an operation costs beyond the
// storage that goes through the allocation seam.
#pragma once

#include <cstdint>

namespace zel::bench {

uint64_t HeapAllocations();

}  // namespace zel::bench
