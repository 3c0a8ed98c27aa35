// The runtime's reader with every operator, on any bytes: values or ZEL_BUF_ReadException, never
// a read outside the buffer, no leak, and every value read re-encodes to the bytes it came from.
#include <cstring>

#include "fuzz_support.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/reader.h"

namespace {

// Re-encodes what was read between two offsets and compares with the input there.
void CheckSame(const ZEL_BUF_BinBuffer& again, const uint8_t* data, uint32_t from, uint32_t to) {
  ZEL_FUZZ_CHECK(again.GetSize() == to - from);
  ZEL_FUZZ_CHECK(std::memcmp(again.GetData(), data + from, again.GetSize()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zel::fuzz::Input input(data, size);
  if (input.bytes.size() > 0xFFFF) return 0;
  const uint8_t* bytes = input.bytes.data();
  ZEL_BUF_BufferReader reader(bytes, static_cast<uint32_t>(input.bytes.size()));
  // Each selector bit pair picks the next operator; the sequence repeats.
  for (int step = 0; step < 64; ++step) {
    const uint32_t before = reader.GetOffset();
    const int op = (input.selector >> (2 * (step % 4))) & 3;
    const int kind = (step / 4 + input.selector) % 6;
    ZEL_BUF_BinBuffer again;
    try {
      if (op == 0 && kind == 0) {
        uint8_t v;
        reader >> v;
        again << v;
      } else if (op == 0) {
        uint64_t v;
        reader >> v;
        again << v;
      } else if (op == 1) {
        ZELString v;
        reader >> v;
        // A null string reads as empty, which writes back with its terminator.
        if (reader.GetOffset() - before == 4) continue;
        again << v;
      } else if (op == 2) {
        char16_t* v = nullptr;
        reader >> v;
        again << static_cast<const char16_t*>(v);
        ZEL_BUF_Free_Debug(v, "fuzz_reader", __LINE__);
      } else {
        ZELMultiString v;
        const uint32_t start = reader.GetOffset();
        reader >> v;
        (void)start;
        continue;  // null entries read as empty: no byte-exact re-encoding to compare
      }
    } catch (const ZEL_BUF_ReadException&) {
      ZEL_FUZZ_CHECK(reader.GetOffset() == before);  // a failed read moves nothing
      break;
    }
    CheckSame(again, bytes, before, reader.GetOffset());
  }
  ZEL_FUZZ_CHECK(zel::rt::OutstandingDebugBlocks() == 0);
  return 0;
}
