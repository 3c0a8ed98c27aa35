// The growable array of capability values that UpdateObject merges into. Inner to the library.
#pragma once

#include <cstdint>

namespace zel::directory {

// Appends each of `values` that is not among the first *count values held on entry, doubling
// the storage when it is full. 0, or 0x80000002 when the storage cannot grow (what was
// appended before stays; storage, capacity and count are as before the failed growth).
int32_t MergeCapabilityValues(uint32_t** storage, uint32_t* capacity, uint32_t* count,
                              const uint32_t* values, uint32_t valueCount);

}  // namespace zel::directory
