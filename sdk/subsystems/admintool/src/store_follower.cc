#include "src/store_follower.h"

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "zel/admintool/zel_admintoolsal.h"
#include "zel/directory/codes.h"
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
  using Clock = std::chrono::steady_clock;

  Impl(ZEL_PIF_ISubSystem& host, uint16_t serverID, Log log, std::chrono::milliseconds giveUpAfter)
      : poster_(host),
        sal_(host, &poster_),
        serverID_(serverID),
        log_(std::move(log)),
        giveUpAfter_(giveUpAfter) {}

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
            if (zel::dir::ChangeServerID(change.number) != serverID_) {
              pending_.push_back(Pending{change, Clock::now()});
            }
          },
          &subscription_);
      if (subscribed != 0) return subscribed;
      subscribed_ = true;
    }
    const int32_t polled = zel::dir::PollChanges(*store);
    const int32_t told = TellArrived(*store);
    return polled != 0 ? polled : told;
  }

 private:
  struct Pending {
    zel::dir::Change change;
    Clock::time_point since;  // first read from the log, or last found unreadable
  };
  enum class Arrival { kArrived, kWaiting, kSuperseded, kUnreadable };

  // Tells the waiting changes whose entries have arrived, in log order; a change waits while
  // an earlier one of the same node waits. 0, or the store's code when it could not be read.
  int32_t TellArrived(ZEL_PS_LDAPSAL& store) {
    std::vector<Pending> looked, waiting;
    looked.swap(pending_);
    std::set<std::u16string> held;  // nodes with a change waiting before
    int32_t failed = 0;
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < looked.size(); ++i) {
      const Pending& next = looked[i];
      // Once the store has not answered, the rest are not asked this time.
      const Arrival arrival = failed != 0 ? Arrival::kUnreadable
                              : held.count(next.change.dn) != 0
                                  ? Arrival::kWaiting
                                  : Arrived(store, looked, i, &failed);
      if (arrival == Arrival::kArrived) {
        Announce(next.change);
        continue;
      }
      if (arrival == Arrival::kSuperseded) continue;
      held.insert(next.change.dn);
      if (arrival == Arrival::kUnreadable) {
        // The store did not answer: its time to arrive starts again once it can be looked at.
        waiting.push_back(Pending{next.change, now});
        continue;
      }
      if (now - next.since >= giveUpAfter_) {
        if (log_) log_(GaveUp(next.change));
        continue;
      }
      waiting.push_back(next);
    }
    waiting.insert(waiting.end(), pending_.begin(), pending_.end());  // told meanwhile
    pending_.swap(waiting);
    return failed;
  }

  // Whether the entry of changes[index] reads as its change left it.
  static Arrival Arrived(ZEL_PS_LDAPSAL& store, const std::vector<Pending>& changes,
                         std::size_t index, int32_t* failed) {
    const zel::dir::Change& change = changes[index].change;
    uint64_t uid = 0, number = 0;
    const int32_t read =
        zel::dir::EntryChange(store, ZEL_AdminToolSAL::s_objCid, change.dn, &uid, &number);
    if (read == zel::dir::kNotSupported) return Arrival::kArrived;  // committed with its entry
    if (read != 0 && read != zel::dir::kNoSuchEntry) {
      *failed = read;
      return Arrival::kUnreadable;
    }
    if (change.kind == zel::dir::Change::kDeleted) {
      return read == zel::dir::kNoSuchEntry || uid != change.uid ? Arrival::kArrived
                                                                 : Arrival::kWaiting;
    }
    if (read == 0) {
      // 0: an entry written before entries kept their number; nothing to compare with.
      return number == 0 || number >= change.number ? Arrival::kArrived : Arrival::kWaiting;
    }
    for (std::size_t later = index + 1; later < changes.size(); ++later) {
      const zel::dir::Change& next = changes[later].change;
      if (next.uid == change.uid && next.kind == zel::dir::Change::kDeleted) {
        return Arrival::kSuperseded;
      }
    }
    return Arrival::kWaiting;
  }

  static std::string GaveUp(const zel::dir::Change& change) {
    char number[17];
    std::snprintf(number, sizeof number, "%016llx", static_cast<unsigned long long>(change.number));
    const char* kind = change.kind == zel::dir::Change::kAdded     ? "add"
                       : change.kind == zel::dir::Change::kUpdated ? "change"
                                                                   : "deletion";
    return std::string("store follower: the ") + kind + " of node \"" +
           ZELString(change.dn).toUtf8() + "\" (change " + number + " of server " +
           std::to_string(zel::dir::ChangeServerID(change.number)) +
           ") is in the change log but its entry did not reach this server's replica; not told";
  }

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
  Log log_;
  std::chrono::milliseconds giveUpAfter_;
  bool subscribed_ = false;
  uint32_t subscription_ = 0;
  std::vector<Pending> pending_;  // read from the log, in its order, not told yet
};

StoreFollower::StoreFollower(ZEL_PIF_ISubSystem& host, uint16_t serverID, Log log,
                             std::chrono::milliseconds giveUpAfter)
    : impl_(std::make_unique<Impl>(host, serverID, std::move(log), giveUpAfter)) {}

StoreFollower::~StoreFollower() = default;

int32_t StoreFollower::Follow() { return impl_->Follow(); }

}  // namespace zel::subsystem
