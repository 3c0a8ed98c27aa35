// The receiving side: group enumeration requests (events 81 and 82) and the folder helpers,
// on any bytes. Failures leave no group and no member list behind.
#include "fuzz_support.h"
#include "zel/admintool/zel_admintoolsal.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/secure.h"
#include "zel/runtime/testing/scripted_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool keyed = [] {
    uint8_t key[32] = {1, 2, 3};
    return ZEL_SECURE_SetKey(0x3A, key, 32) == 0;
  }();
  ZEL_FUZZ_CHECK(keyed);
  const zel::fuzz::Input input(data, size);
  zel::rt::testing::ScriptedHost host;
  ZEL_AdminToolSAL sal(host);
  const uint16_t eventID = input.selector % 2 == 0 ? 81 : 82;
  ZEL_BUF_EventBuffer event(eventID, ZELVersion(1, 0), 0);
  event.SetMaxSize(1u << 20);
  if (event.AppendData(input.bytes.data(), static_cast<uint32_t>(input.bytes.size())) != 0) {
    return 0;
  }
  const uint64_t held = zel::rt::GetAllocationStats().outstanding();  // the event's own storage
  switch ((input.selector / 2) % 4) {
    case 0: {
      ZEL_AdminToolObject* group = nullptr;
      UM_Credentials* credentials = nullptr;
      const int32_t result = sal.ParseEnumerateGroupEvent(&event, &group, &credentials);
      if (result < 0) ZEL_FUZZ_CHECK(group == nullptr);
      if (result == 0) {
        ZEL_FUZZ_CHECK(group != nullptr);
        // Its UID is the only entry of its list (none for the no-UID value).
        ZEL_FUZZ_CHECK(group->getUIDCount() == (group->getUID() != ZEL_AdminToolObject::kNoUID));
      }
      delete group;
      delete credentials;
      break;
    }
    case 1: {
      uint64_t uid = 0;
      ZELString name;
      sal.CreateFolderHelper(&event, uid, name);
      sal.RenameFolderHelper(&event, uid, name);
      sal.DeleteFolderHelper(&event, uid);
      break;
    }
    default: {
      uint32_t count = 0;
      uint64_t* members = nullptr;
      uint64_t first = 0, second = 0;
      const int32_t result = sal.MoveFolderMembersHelper(&event, count, members, first, second);
      if (result != 0) ZEL_FUZZ_CHECK(members == nullptr);
      sal.FreeMemberUIDListHelper(members);
      break;
    }
  }
  ZEL_FUZZ_CHECK(zel::rt::GetAllocationStats().outstanding() == held);
  return 0;
}
