// The other half of allocation_header_test.cc: <string> comes first here, and this file only
// counts and releases record arrays.
#include <string>
//
#include "allocation_header_types.h"
#include "zel/admintool/allocation.h"

namespace zel::sal::testing {

int g_alive = 0;

#define ZEL_ELSEWHERE(alignment)                                                               \
  uint32_t CountElsewhere(const Counted<alignment>* elements) { return ArrayCount(elements); } \
  void ReleaseElsewhere(Counted<alignment>* elements) { DeleteArray(elements); }
ZEL_ELSEWHERE(1)
ZEL_ELSEWHERE(4)
ZEL_ELSEWHERE(8)
#undef ZEL_ELSEWHERE

}  // namespace zel::sal::testing
