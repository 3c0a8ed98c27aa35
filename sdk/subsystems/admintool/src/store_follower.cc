#include "src/store_follower.h"

#include <vector>

#include "zel/admintool/zel_admintoolsal.h"
#include "zel/directory/records.h"
#include "zel/runtime/codes.h"
#include "zel/subsystem/codes.h"

namespace zel::subsystem {

namespace {

// Hands the node operations' notifications to the host's transport, which takes them to the
// notification hub.
class HostPoster final : public ZEL_PIF_EventDispatcher {
 public:
  explicit HostPoster(ZEL_PIF_ISubSystem& host) : host_(host) {}
  int32_t PostEvent(ZEL_BUF_EventBuffer* event) override {
    zel::rt::EventTransport* transport = host_.GetEventTransport();
    if (transport == nullptr) {
      delete event;
      return zel::rt::kNoTransport;
    }
    return transport->Post(event);
  }

 private:
  ZEL_PIF_ISubSystem& host_;
};

// The library's SAL object, with its store in reach and its notifications posted through the
// host.
class FollowerSal final : public ZEL_AdminToolSAL {
 public:
  FollowerSal(ZEL_PIF_ISubSystem& host, ZEL_PIF_EventDispatcher* poster) : ZEL_AdminToolSAL(host) {
    eventDispatcher = poster;
  }
  ZEL_PS_LDAPSAL* Store() const { return storeSal; }
};

}  // namespace

class StoreFollower::Impl {
 public:
  Impl(ZEL_PIF_ISubSystem& host, uint16_t serverID)
      : poster_(host), sal_(host, &poster_), serverID_(serverID) {}

  int32_t Follow() {
    ZEL_PS_LDAPSAL* store = sal_.Store();
    if (store == nullptr) return zel::rt::kNoMemory;
    if (!subscribed_) {
      if (ZEL_AdminToolSAL::s_objCid == 0) {
        ZEL_AdminToolObject probe;  // any registry operation binds the object context first
        sal_.GetObjectW(probe);
      }
      if (ZEL_AdminToolSAL::s_objCid == 0) return kInternalError;
      // The listener only collects: it is told inside PollChanges, where the store is busy.
      const int32_t subscribed = zel::dir::Subscribe(
          *store, ZEL_AdminToolSAL::s_objCid,
          [this](uint32_t, const zel::dir::Change& change) {
            if (zel::dir::ChangeServerID(change.number) != serverID_) pending_.push_back(change);
          },
          &subscription_);
      if (subscribed != 0) return subscribed;
      subscribed_ = true;
    }
    const int32_t polled = zel::dir::PollChanges(*store);
    std::vector<zel::dir::Change> changes;
    changes.swap(pending_);
    for (const zel::dir::Change& change : changes) Announce(change);
    return polled;
  }

 private:
  void Announce(const zel::dir::Change& change) {
    const ZELString dn{std::u16string_view(change.dn)};
    ZELString parentDN = dn.parentDistinguishedName();
    ZELString name = dn.lastDistinguishedNameComponent();
    if (change.kind == zel::dir::Change::kDeleted) {
      sal_.DeleteNode(parentDN, name);
      return;
    }
    // The node as it is now; one deleted again since is told by its own change.
    ZEL_AdminToolObject object(parentDN.getName(), name.getName());
    if (sal_.GetObjectW(object) != 0) return;
    if (change.kind == zel::dir::Change::kAdded) {
      sal_.AddNode(parentDN, object);
    } else {
      sal_.ChangeNodeAttr(parentDN, name, object);
    }
  }

  HostPoster poster_;
  FollowerSal sal_;
  uint16_t serverID_;
  bool subscribed_ = false;
  uint32_t subscription_ = 0;
  std::vector<zel::dir::Change> pending_;
};

StoreFollower::StoreFollower(ZEL_PIF_ISubSystem& host, uint16_t serverID)
    : impl_(std::make_unique<Impl>(host, serverID)) {}

StoreFollower::~StoreFollower() = default;

int32_t StoreFollower::Follow() { return impl_->Follow(); }

}  // namespace zel::subsystem
