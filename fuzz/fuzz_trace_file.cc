// The trace-file reader (what `zeltrace dump` streams) over any bytes, delivered in chunks of a
// size the first input byte picks, and every record it reads formatted as the tool prints it.
#include <algorithm>
#include <cstring>

#include "format.h"
#include "fuzz_support.h"
#include "zel/tracedev/files.h"

using zel::trace::TraceFileReader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zel::fuzz::Input input(data, size);
  const std::size_t chunk = 1 + input.selector;
  std::size_t at = 0;
  TraceFileReader reader([&](uint8_t* out, std::size_t wanted) {
    const std::size_t n = std::min({wanted, chunk, input.bytes.size() - at});
    if (n != 0) std::memcpy(out, input.bytes.data() + at, n);
    at += n;
    return static_cast<long>(n);
  });
  zel::trace::FileRecord record;
  TraceFileReader::Result result;
  while ((result = reader.Next(&record)) == TraceFileReader::Result::kRecord) {
    // A record read is exactly the bytes it came from, and never more than a record may hold.
    const std::vector<uint8_t> again = zel::trace::EncodeFileRecord(record);
    ZEL_FUZZ_CHECK(again.size() <= zel::trace::kMaxFileRecordBytes);
    ZEL_FUZZ_CHECK(reader.offset() >= again.size());
    const std::size_t start = reader.offset() - again.size();
    ZEL_FUZZ_CHECK(std::memcmp(again.data(), input.bytes.data() + start, again.size()) == 0);
    ZEL_FUZZ_CHECK(!zeltrace::FormatRecord(record).empty());
  }
  if (result == TraceFileReader::Result::kEnd) {
    ZEL_FUZZ_CHECK(reader.offset() == input.bytes.size() && reader.error().empty());
  } else {
    ZEL_FUZZ_CHECK(result == TraceFileReader::Result::kDamaged && !reader.error().empty());
    ZEL_FUZZ_CHECK(reader.offset() < input.bytes.size());
    ZEL_FUZZ_CHECK(reader.Next(&record) == result);  // a damaged file stays damaged
  }
  return 0;
}
