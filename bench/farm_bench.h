// Shared by the farm benchmarks: what one GetPrivilege2 exchange carries.
#pragma once

#include <cstddef>
#include <utility>

namespace zel::bench {

// The payload sizes of a GetPrivilege2 request and its reply (16 privileges), as the library
// and the subsystem make them.
std::pair<std::size_t, std::size_t> GetPrivilege2Payloads();

}  // namespace zel::bench
