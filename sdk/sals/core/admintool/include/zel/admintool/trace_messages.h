// The trace messages of the library: one message GUID per source module and, in each module,
// one number per trace site. The texts that describe them live with the trace tool; the
// library holds none.
#pragma once

#include <cstdint>

#include "zel/tracedev/protocol.h"

namespace zel::trace {

// The name the library registers under; a control file is made for it.
inline constexpr const char16_t* kComponentName = u"ZEL_Sals_AdminTool";

enum class Module : uint8_t {
  kSal,   // the base SAL object, the directory and the tree operations
  kSal3,  // the third version (the second-generation administrator operations)
  kSal5,  // the fifth version
  kSal6,  // the sixth version
};

inline constexpr Guid kControlGuid = {
    0x6B0D4E21, 0x93A7, 0x4C55, {0x8F, 0x1E, 0x2A, 0x64, 0xD0, 0x7B, 0x31, 0xC9}};

inline constexpr Guid kModuleGuids[] = {
    {0x3F6A2C10, 0x5B1D, 0x4E8A, {0x9C, 0x42, 0x10, 0x7E, 0xA3, 0x55, 0x0B, 0x01}},  // kSal
    {0x3F6A2C10, 0x5B1D, 0x4E8A, {0x9C, 0x42, 0x10, 0x7E, 0xA3, 0x55, 0x0B, 0x03}},  // kSal3
    {0x3F6A2C10, 0x5B1D, 0x4E8A, {0x9C, 0x42, 0x10, 0x7E, 0xA3, 0x55, 0x0B, 0x05}},  // kSal5
    {0x3F6A2C10, 0x5B1D, 0x4E8A, {0x9C, 0x42, 0x10, 0x7E, 0xA3, 0x55, 0x0B, 0x06}},  // kSal6
};

inline constexpr const Guid& GuidOf(Module module) {
  return kModuleGuids[static_cast<uint8_t>(module)];
}

struct Message {
  Module module;
  uint16_t number;
};

// Every trace site's message: X(name, module, number).
#define ZEL_TRACE_MESSAGES(X)                                              \
  X(kSalConstructed, ::zel::trace::Module::kSal, 10)                       \
  X(kGroupReplyWithoutGroup, ::zel::trace::Module::kSal, 27)               \
  X(kGroupReplySent, ::zel::trace::Module::kSal, 28)                       \
  X(kNodeAdded, ::zel::trace::Module::kSal, 38)                            \
  X(kNodesAdded, ::zel::trace::Module::kSal, 39)                           \
  X(kNodeDeleted, ::zel::trace::Module::kSal, 40)                          \
  X(kNodeChanged, ::zel::trace::Module::kSal, 41)                          \
  X(kNodesMoved, ::zel::trace::Module::kSal, 42)                           \
  X(kContextCreating, ::zel::trace::Module::kSal, 50)                      \
  X(kContextCreateFailed, ::zel::trace::Module::kSal, 51)                  \
  X(kContextBindFailed, ::zel::trace::Module::kSal, 52)                    \
  X(kObjectBindFailed, ::zel::trace::Module::kSal, 55)                     \
  X(kObjectRegisterFailed, ::zel::trace::Module::kSal, 56)                 \
  X(kObjectSyncFailed, ::zel::trace::Module::kSal, 57)                     \
  X(kObjectDeleteFailed, ::zel::trace::Module::kSal, 58)                   \
  X(kCapabilityMergeFailed, ::zel::trace::Module::kSal, 59)                \
  X(kGroupSearchFailed, ::zel::trace::Module::kSal, 60)                    \
  X(kIconBindFailed, ::zel::trace::Module::kSal, 65)                       \
  X(kIconMatched, ::zel::trace::Module::kSal, 66)                          \
  X(kIconStorageFailed, ::zel::trace::Module::kSal, 67)                    \
  X(kIconRegistered, ::zel::trace::Module::kSal, 68)                       \
  X(kIconNotFound, ::zel::trace::Module::kSal, 69)                         \
  X(kIconRead, ::zel::trace::Module::kSal, 70)                             \
  X(kIconNameEntryDeleteFailed, ::zel::trace::Module::kSal, 71)            \
  X(kIconEntryMissing, ::zel::trace::Module::kSal, 72)                     \
  X(kPluginBindFailed, ::zel::trace::Module::kSal, 75)                     \
  X(kPluginRegisterFailed, ::zel::trace::Module::kSal, 76)                 \
  X(kPluginGetBindFailed, ::zel::trace::Module::kSal, 77)                  \
  X(kPluginNotFound, ::zel::trace::Module::kSal, 78)                       \
  X(kLogon2WriteFailed, ::zel::trace::Module::kSal3, 10)                   \
  X(kAddUsers2WriteFailed, ::zel::trace::Module::kSal3, 11)                \
  X(kSetPrivilege2WriteFailed, ::zel::trace::Module::kSal3, 12)            \
  X(kGetPrivilege2WriteFailed, ::zel::trace::Module::kSal3, 13)            \
  X(kGetStaticGroupPermissionWriteFailed, ::zel::trace::Module::kSal3, 14) \
  X(kEnumerateKeldraAdminsWriteFailed, ::zel::trace::Module::kSal3, 15)    \
  X(kFreeMemoryUnknownType, ::zel::trace::Module::kSal3, 16)               \
  X(kAdminNodeDeleted, ::zel::trace::Module::kSal3, 17)                    \
  X(kSal5Constructed, ::zel::trace::Module::kSal5, 10)                     \
  X(kSal5NoLocalImplementation, ::zel::trace::Module::kSal5, 11)           \
  X(kAddUsers3Failed, ::zel::trace::Module::kSal5, 20)                     \
  X(kSetPrivilege3Failed, ::zel::trace::Module::kSal5, 21)                 \
  X(kGetPrivilege3Failed, ::zel::trace::Module::kSal5, 22)                 \
  X(kEnumerateKeldraAdmins2Failed, ::zel::trace::Module::kSal5, 23)        \
  X(kAdminUIDByNameFailed, ::zel::trace::Module::kSal5, 30)                \
  X(kAdminNameByUIDFailed, ::zel::trace::Module::kSal5, 31)                \
  X(kPermissionsFailed, ::zel::trace::Module::kSal5, 40)                   \
  X(kDeleteCapabilitiesFailed, ::zel::trace::Module::kSal5, 41)            \
  X(kPrivilegesByBlobFailed, ::zel::trace::Module::kSal5, 42)              \
  X(kTicketFailed, ::zel::trace::Module::kSal5, 50)                        \
  X(kTicketReplyResult, ::zel::trace::Module::kSal5, 51)                   \
  X(kTicketResult, ::zel::trace::Module::kSal5, 52)                        \
  X(kSal6Constructed, ::zel::trace::Module::kSal6, 10)

#define ZEL_TRACE_DECLARE_MESSAGE(name, module, number) \
  inline constexpr Message name{module, number};
ZEL_TRACE_MESSAGES(ZEL_TRACE_DECLARE_MESSAGE)
#undef ZEL_TRACE_DECLARE_MESSAGE

// The name of a module as the trace tool shows it.
inline constexpr const char* ModuleName(Module module) {
  switch (module) {
    case Module::kSal:
      return "sal";
    case Module::kSal3:
      return "sal3";
    case Module::kSal5:
      return "sal5";
    case Module::kSal6:
      return "sal6";
  }
  return "?";
}

}  // namespace zel::trace
