// The runtime's reader with every operator and ReadData, on any bytes: values or
// ZEL_BUF_ReadException, never a read outside the buffer, no leak. Every value read re-encodes to
// the bytes it came from; after a failed read the position and the target are as they were.
//
// Input: the selector byte is the number of opcodes (at most 64), then the opcodes, then the
// bytes the reader reads. An opcode's low four bits pick the operator; for ReadData its high
// four bits pick the length.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/reader.h"

namespace {

enum Op : uint8_t { kU8, kI16, kU16, kI32, kU32, kU64, kString, kWide, kList, kData, kOpCount };

// Re-encodes what was read between two offsets and compares with the input there.
void CheckSame(const ZEL_BUF_BinBuffer& again, const uint8_t* data, uint32_t from, uint32_t to) {
  ZEL_FUZZ_CHECK(again.GetSize() == to - from);
  ZEL_FUZZ_CHECK(again.GetSize() == 0 ||
                 std::memcmp(again.GetData(), data + from, again.GetSize()) == 0);
}

// Lengths for ReadData: small ones, one past what remains, and one that overflows an offset.
uint32_t DataLength(uint8_t arg, uint32_t remaining) {
  if (arg == 15) return 0xFFFFFFFF;
  if (arg == 14) return remaining + 1;
  if (arg == 13) return remaining;
  return arg * 3u;
}

// One scalar read: on success it writes back to its bytes, on failure the target keeps its value.
template <typename T>
void Scalar(ZEL_BUF_BufferReader& reader, ZEL_BUF_BinBuffer& again, T sentinel) {
  T value = sentinel;
  try {
    reader >> value;
  } catch (const ZEL_BUF_ReadException&) {
    ZEL_FUZZ_CHECK(value == sentinel);
    throw;
  }
  again << value;
}

// Runs one opcode; a failed read is checked for what a failure promises.
void Step(uint8_t opcode, ZEL_BUF_BufferReader& reader, const uint8_t* bytes) {
  static char16_t sentinelText[] = u"sentinel";
  const uint32_t before = reader.GetOffset();
  ZEL_BUF_BinBuffer again;
  bool compare = true;
  try {
    switch ((opcode & 0x0F) % kOpCount) {
      case kU8:
        Scalar<uint8_t>(reader, again, 0xA5);
        break;
      case kI16:
        Scalar<int16_t>(reader, again, -12345);
        break;
      case kU16:
        Scalar<uint16_t>(reader, again, 0xA5A5);
        break;
      case kI32:
        Scalar<int32_t>(reader, again, -123456789);
        break;
      case kU32:
        Scalar<uint32_t>(reader, again, 0xA5A5A5A5);
        break;
      case kU64:
        Scalar<uint64_t>(reader, again, 0xA5A5A5A5A5A5A5A5);
        break;
      case kString: {
        ZELString value(u"sentinel");
        try {
          reader >> value;
        } catch (const ZEL_BUF_ReadException&) {
          ZEL_FUZZ_CHECK(value == ZELString(u"sentinel"));
          throw;
        }
        // A null string reads as empty, which writes back with its terminator.
        compare = reader.GetOffset() - before != 4;
        again << value;
        break;
      }
      case kWide: {
        char16_t* value = sentinelText;
        try {
          reader >> value;
        } catch (const ZEL_BUF_ReadException&) {
          ZEL_FUZZ_CHECK(value == sentinelText);
          throw;
        }
        again << static_cast<const char16_t*>(value);
        ZEL_BUF_Free_Debug(value, "fuzz_reader", __LINE__);
        break;
      }
      case kList: {
        ZELMultiString value;
        value.add(ZELString(u"sentinel"));
        ZELMultiString kept = value;
        try {
          reader >> value;
        } catch (const ZEL_BUF_ReadException&) {
          ZEL_FUZZ_CHECK(value == kept);
          throw;
        }
        compare = false;  // null entries read as empty: no byte-exact re-encoding to compare
        break;
      }
      default: {
        const uint32_t length = DataLength(opcode >> 4, reader.GetRemaining());
        std::vector<uint8_t> target(length <= reader.GetRemaining() ? length : 8, 0xA5);
        const std::vector<uint8_t> untouched = target;
        try {
          ZEL_FUZZ_CHECK(reader.ReadData(target.data(), length) == 0);
        } catch (const ZEL_BUF_ReadException&) {
          ZEL_FUZZ_CHECK(target == untouched);  // nothing copied
          throw;
        }
        if (length != 0) ZEL_FUZZ_CHECK(again.AppendBytes(target.data(), length) == 0);
        break;
      }
    }
  } catch (const ZEL_BUF_ReadException&) {
    ZEL_FUZZ_CHECK(reader.GetOffset() == before);  // a failed read moves nothing
    return;
  }
  if (compare) CheckSame(again, bytes, before, reader.GetOffset());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zel::fuzz::Input input(data, size);
  if (input.bytes.size() > 0xFFFF) return 0;
  const size_t opcodes = std::min<size_t>(input.selector % 65, input.bytes.size());
  const uint8_t* bytes = input.bytes.data() + opcodes;
  ZEL_BUF_BufferReader reader(bytes, static_cast<uint32_t>(input.bytes.size() - opcodes));
  // A failed read leaves the reader where it was, so the next opcode reads from there.
  for (size_t i = 0; i < opcodes; ++i) Step(input.bytes[i], reader, bytes);
  ZEL_FUZZ_CHECK(zel::rt::OutstandingDebugBlocks() == 0);
  return 0;
}
