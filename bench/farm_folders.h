// Shared by the benchmarks that make farm changes through a console: a folder is the smallest
// change the farm announces (two notifications).
#pragma once

#include <string>

#include "zel/transport/client.h"

namespace zel::bench {

// Makes a folder named `prefix` and a number not used before in this process (a server may live
// through every run of every benchmark), by a console of the server (UID 51). True when the farm
// answered success.
bool MakeFolder(zel::transport::Client& client, const std::string& prefix);

}  // namespace zel::bench
