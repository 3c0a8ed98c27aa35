#include "zel/directory/service.h"

#include "backend.h"
#include "names.h"
#include "zel/directory/codes.h"
#include "zel/runtime/alloc.h"

ZEL_DIR_ServiceInterface::~ZEL_DIR_ServiceInterface() = default;

ZEL_PS_LDAPSAL::ZEL_PS_LDAPSAL(ZEL_PIF_ISubSystem& host) : host_(host) {}

ZEL_PS_LDAPSAL::~ZEL_PS_LDAPSAL() = default;

zel::dir::Store* ZEL_PS_LDAPSAL::OpenStore(int32_t* code) {
  if (store_) return store_.get();
  ZelPluginApiTable* table = host_.GetPluginApis();
  void* offered = nullptr;
  if (table == nullptr || table->AcquireInterface(kZelDirectoryStoreInterface, &offered) < 0 ||
      offered == nullptr) {
    *code = zel::dir::kNoStore;
    return nullptr;
  }
  const std::string location = static_cast<ZEL_DIR_StoreLocation*>(offered)->StorePath();
  table->ReleaseInterface(kZelDirectoryStoreInterface, offered);
  *code = zel::dir::OpenBackend(location, host_, &store_);
  return store_.get();
}

int32_t ZEL_PS_LDAPSAL::ChangeStamp(ZEL_DIR_ChangeStamp* stamp) {
  int32_t code = 0;
  zel::dir::Store* store = OpenStore(&code);
  if (store == nullptr) return code;
  if (const int32_t stamped = store->changeStamp(stamp)) return stamped;
  stamp->scopesEnded = store->scopesEnded();
  stamp->inScope = store->inScope();
  return 0;
}

int32_t ZEL_PS_LDAPSAL::BindLDAP(const ZELString& contextName, uint32_t& contextID) {
  if (contextName.isEmpty()) return zel::dir::kInvalidArgument;
  int32_t code = 0;
  zel::dir::Store* store = OpenStore(&code);
  if (store == nullptr) return code;
  const bool byName = contextName.view().front() == u'&';
  return store->bindContext(byName ? contextName.view().substr(1) : contextName.view(), byName,
                            &contextID);
}

int32_t ZEL_PS_LDAPSAL::CreateDataContext(const ZELString& contextName, const ZELString& dn) {
  if (contextName.isEmpty() || contextName.view().front() == u'&') {
    return zel::dir::kInvalidArgument;
  }
  if (!zel::dir::IsWellFormedDN(dn.view())) return zel::dir::kMalformedName;
  int32_t code = 0;
  zel::dir::Store* store = OpenStore(&code);
  if (store == nullptr) return code;
  return store->createContext(contextName.view(), dn.view());
}
