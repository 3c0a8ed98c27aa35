#include "zel/admintool/zel_admintoolsal.h"

#include <new>

#include "admintool/sal/exchange.h"
#include "admintool/trace/trace.h"
#include "zel/usersal/descriptors.h"

ZELString ZEL_AdminToolSAL::s_adminToolContext;
uint32_t ZEL_AdminToolSAL::s_cid = 0;
uint32_t ZEL_AdminToolSAL::s_objCid = 0;
uint32_t ZEL_AdminToolSAL::s_iconCid = 0;
uint32_t ZEL_AdminToolSAL::s_pluginCid = 0;

namespace {

// The account-authority descriptors the library holds from load to unload. No operation reads
// them.
struct AuthorityDescriptors {
  UM_AcctAuthType nt;
  UM_AcctAuthType nds;
  UM_AcctAuthType none;
  AuthorityDescriptors() {
    nt.SetValue(u"NT");
    nds.SetValue(u"NDS");
    none.SetValue(u"");
  }
};
const AuthorityDescriptors g_authorities;
const AuthorityDescriptors g_accountAuthorities;

}  // namespace

ZEL_AdminToolSAL::ZEL_AdminToolSAL(ZEL_PIF_ISubSystem& host)
    : ZEL_PIF_SAL(host, zel::sal::kAdminToolSubsystemUID),
      storeSal(nullptr),
      callerSubsystemUID(0),
      adminToolSubsystemUID(zel::sal::kAdminToolSubsystemUID),
      eventDispatcher(nullptr) {
  zel::trace::OpenOnce();
  ZEL_TRACE(kEntry, kSalConstructed, TraceNoData);
  callerSubsystemUID = static_cast<uint16_t>(host.GetSubsystemUID());
  storeSal = new (std::nothrow) ZEL_PS_LDAPSAL(host);
  void* dispatcher = nullptr;
  ZelPluginApis.AcquireInterface(kZelEventDispatcherInterface, &dispatcher);  // not examined
  eventDispatcher = static_cast<ZEL_PIF_EventDispatcher*>(dispatcher);
}

ZEL_AdminToolSAL::~ZEL_AdminToolSAL() {
  delete storeSal;
  ZelPluginApis.ReleaseInterface(kZelEventDispatcherInterface, eventDispatcher);
}

int32_t ZEL_AdminToolSAL::RegisterAdminObjectClass() { return 0; }
int32_t ZEL_AdminToolSAL::RegisterAdminIconClass() { return 0; }
int32_t ZEL_AdminToolSAL::RegisterAdminPluginClass() { return 0; }
int32_t ZEL_AdminToolSAL::RegisterAdminObjectClasses() { return 0; }

ZEL_AdminToolSAL2::ZEL_AdminToolSAL2(ZEL_PIF_ISubSystem& host) : ZEL_AdminToolSAL(host) {}
ZEL_AdminToolSAL2::~ZEL_AdminToolSAL2() = default;

ZEL_AdminToolSAL3::ZEL_AdminToolSAL3(ZEL_PIF_ISubSystem& host) : ZEL_AdminToolSAL2(host) {}
ZEL_AdminToolSAL3::~ZEL_AdminToolSAL3() = default;

ZEL_AdminToolSAL4::ZEL_AdminToolSAL4(ZEL_PIF_ISubSystem& host) : ZEL_AdminToolSAL3(host) {}
ZEL_AdminToolSAL4::~ZEL_AdminToolSAL4() = default;
