// Tree node and icon wire forms, and the account-ID blob, read from any bytes.
#include "fuzz_support.h"
#include "zel/admintool/zel_admintoolobject.h"
#include "zel/runtime/alloc.h"
#include "zel/usersal/account_blob.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zel::fuzz::Input input(data, size);
  const auto length = static_cast<uint32_t>(input.bytes.size());
  ZEL_BUF_BufferReader reader(input.bytes.data(), length);
  switch (input.selector % 3) {
    case 0: {
      ZEL_AdminToolObject node(u"Root", u"");
      const int32_t result = node.read(reader);
      ZEL_FUZZ_CHECK(result == 0 || result == static_cast<int32_t>(0x80000001) ||
                     result == static_cast<int32_t>(0x80000002));
      // A UID equal to the no-UID value leaves the list empty, as setUID does.
      if (result == 0 && node.getUID() != ZEL_AdminToolObject::kNoUID) {
        ZEL_FUZZ_CHECK(node.getUIDCount() == 1);
      }
      break;
    }
    case 1: {
      ZEL_AdminToolIcon icon(uint64_t{0});
      const int32_t result = icon.read(reader);
      if (result != 0) {
        ZEL_FUZZ_CHECK(icon.getData() == nullptr && icon.getFlags() == 255 && icon.getSize() == 0);
      } else if (icon.getFlags() != 255) {
        ZEL_FUZZ_CHECK(icon.getSize() == 640 && icon.getData() != nullptr);
        // What was read writes back to the same bytes.
        ZEL_BUF_EventBuffer again(0, ZELVersion(1, 0), 0);
        icon.write(again);
        ZEL_FUZZ_CHECK(again.GetSize() == 650 &&
                       std::equal(again.GetData(), again.GetData() + 650, input.bytes.data()));
      }
      break;
    }
    default: {
      UM_AccountIdentity identity;
      if (UM_ReadAcctIDBlob(reader, &identity) == 0) {
        ZEL_BUF_EventBuffer again(0, ZELVersion(1, 0), 0);
        UM_AcctIDBlobWriter writer(identity);
        ZEL_FUZZ_CHECK(writer.WriteToEvent(&again) == 0);
        ZEL_BUF_BufferReader back(again.GetData(), again.GetSize());
        UM_AccountIdentity twice;
        ZEL_FUZZ_CHECK(UM_ReadAcctIDBlob(back, &twice) == 0 && twice == identity);
      }
      break;
    }
  }
  ZEL_FUZZ_CHECK(zel::rt::OutstandingDebugBlocks() == 0);
  return 0;
}
