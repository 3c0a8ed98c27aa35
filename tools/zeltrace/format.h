// Readable lines for trace records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zel/tracedev/files.h"

namespace zeltrace {

// One argument as text: a UTF-16 string in quotes, a 32- or 64-bit integer in hex and decimal,
// or the bytes in hex.
std::string FormatArgument(const std::vector<uint8_t>& bytes);
// One record: sequence, time, process, module, message number, text, arguments.
std::string FormatRecord(const zel::trace::FileRecord& record);

}  // namespace zeltrace
