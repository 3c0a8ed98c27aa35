// Binding the AdminTool contexts of the directory, creating them when they are missing.
#include "admintool/trace/trace.h"
#include "zel/admintool/zel_admintoolsal.h"

namespace {}  // namespace

struct ZEL_AdminToolSAL::ChildContext {
  const char16_t* bindName;
  const char16_t* createName;
  const char16_t* component;
};

namespace {

using ChildContext = ZEL_AdminToolSAL::ChildContext;

constexpr ChildContext kObjects{u"&AdminToolObjectContext", u"AdminToolObjectContext", u"Objects"};
constexpr ChildContext kIcons{u"&AdminToolIconContext", u"AdminToolIconContext", u"Icons"};
constexpr ChildContext kPlugins{u"&AdminToolPluginContext", u"AdminToolPluginContext", u"Plugins"};

// Binds `bindName` into *id, creating the context at `dn` when the first bind fails.
int32_t BindOrCreate(ZEL_PS_LDAPSAL& store, const ZELString& bindName, const ZELString& createName,
                     const ZELString& dn, uint32_t* id) {
  if (store.BindLDAP(bindName, *id) == 0) return 0;
  ZEL_TRACE(kInfo, kContextCreating, TraceString, dn.getName());
  if (store.CreateDataContext(createName, dn) != 0) {
    ZEL_TRACE(kError, kContextCreateFailed, TraceString, dn.getName());
    return ZEL_E_FAIL;
  }
  if (store.BindLDAP(bindName, *id) == 0) return 0;
  ZEL_TRACE(kError, kContextBindFailed, TraceString, dn.getName());
  return ZEL_E_FAIL;
}

}  // namespace

void ZEL_AdminToolSAL::initializeContextStrings() {
  const ZELString neighborhood = GetHostSubsystem().GetNeighborhoodName();
  if (neighborhood.getLength() <= 2) return;
  s_adminToolContext = u"ServerNeighborhoods";
  s_adminToolContext.appendDistinguishedName(neighborhood);
  s_adminToolContext.appendDistinguishedName(ZELString(u"AdminTool"));
}

int32_t ZEL_AdminToolSAL::BindAdminToolContext() {
  initializeContextStrings();
  if (storeSal == nullptr) return ZEL_E_FAIL;
  return BindOrCreate(*storeSal, ZELString(u"&AdminToolContext"), ZELString(u"AdminToolContext"),
                      s_adminToolContext, &s_cid);
}

int32_t ZEL_AdminToolSAL::bindChildContext(const ChildContext& child, uint32_t* id) {
  if (storeSal == nullptr) return ZEL_E_FAIL;
  if (s_cid == 0 && BindAdminToolContext() != 0) return ZEL_E_FAIL;
  ZELString dn = s_adminToolContext;
  dn.appendDistinguishedName(ZELString(child.component));
  return BindOrCreate(*storeSal, ZELString(child.bindName), ZELString(child.createName), dn, id);
}

int32_t ZEL_AdminToolSAL::BindAdminToolObjectContext() {
  return bindChildContext(kObjects, &s_objCid);
}
int32_t ZEL_AdminToolSAL::BindAdminToolIconContext() {
  return bindChildContext(kIcons, &s_iconCid);
}
int32_t ZEL_AdminToolSAL::BindAdminToolPluginContext() {
  return bindChildContext(kPlugins, &s_pluginCid);
}
