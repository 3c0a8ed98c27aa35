// Readable lines for trace records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zel/tracedev/files.h"

namespace zeltrace {

// One argument as text: a UTF-16 string in quotes, a 32- or 64-bit integer in hex (and decimal),
// or the bytes in hex. `kind` ('s', 'u', 'q') says which it is when the message is known; 0
// guesses from the bytes.
std::string FormatArgument(const std::vector<uint8_t>& bytes, char kind = 0);
// One record: sequence, time, process, module, message number, text, arguments.
std::string FormatRecord(const zel::trace::FileRecord& record);

}  // namespace zeltrace
