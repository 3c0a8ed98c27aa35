// The one table of every event ID of the AdminTool protocol: the library's events (27 to 97)
// and the events of ours (1000 up). IDs of ours are append-only: a number once given is never
// reused or renumbered, since consoles and servers of different releases meet on the wire.
//
// The wire forms of the library's events live in the library's protocol module; those of the
// events of ours live in this component (zel/protocol/messages.h lists them), so that the
// directory's `farm:` backend and the transport can use them without the library.
#pragma once

#include <cstdint>
#include <span>

#include "zel/protocol/export.h"

namespace zel::protocol {

// The AdminTool subsystem, which answers every request, and the notification hub, which
// receives the one-way notifications.
inline constexpr uint16_t kAdminToolSubsystemUID = 22;
inline constexpr uint16_t kNotificationHubUID = 1;

enum class EventKind : uint8_t {
  kRequestReply,                 // a request and its reply
  kRequestReplyFirstGeneration,  // the same, created and sent through the first-generation calls
  kOneWay,                       // posted; no reply
  kReceived,                     // a request the library only parses (receiving side)
};

namespace event {
// The library's events.
inline constexpr uint16_t kDeleteUser = 27;
inline constexpr uint16_t kGetUsersDNs = 30;
inline constexpr uint16_t kAddDefaultUser = 31;
inline constexpr uint16_t kIsUserKeldraAdmin = 48;
inline constexpr uint16_t kLogon2 = 65;
inline constexpr uint16_t kAddUsers2 = 67;
inline constexpr uint16_t kSetPrivilege2 = 69;
inline constexpr uint16_t kGetPrivilege2 = 71;
inline constexpr uint16_t kGetStaticGroupPermission = 73;
inline constexpr uint16_t kEnumerateKeldraAdmins = 75;
inline constexpr uint16_t kTreeOperation = 81;  // also the group enumeration reply
inline constexpr uint16_t kEnumerateGroupWithCredentials = 82;
inline constexpr uint16_t kAddDefaultUser2 = 83;
inline constexpr uint16_t kGetVoAdminAccountsForTicket = 86;
inline constexpr uint16_t kAddUsers3 = 87;
inline constexpr uint16_t kSetPrivilege3 = 88;
inline constexpr uint16_t kGetPrivilege3 = 89;
inline constexpr uint16_t kEnumerateKeldraAdmins2 = 90;
inline constexpr uint16_t kGetPermissionsForCurrentUser = 91;
inline constexpr uint16_t kDeleteCapabilityObjectsInDB = 92;
inline constexpr uint16_t kGetAdminUIDByName = 93;
inline constexpr uint16_t kGetAdminNameByUID = 94;
inline constexpr uint16_t kContainerChange = 95;
inline constexpr uint16_t kGetPrivilegesByBlob = 96;
inline constexpr uint16_t kPostAdminNameUnResolved = 97;

// Events of ours, from 1000 up; append only. Each has a request and a reply under the same ID
// unless ReplyEventID says otherwise.
inline constexpr uint16_t kFirstOfOurs = 1000;
inline constexpr uint16_t kCreateFolder = 1000;
inline constexpr uint16_t kRenameFolder = 1001;
inline constexpr uint16_t kDeleteFolder = 1002;
inline constexpr uint16_t kMoveFolderMembers = 1003;
inline constexpr uint16_t kEnumerateGroup = 1004;  // answered with kTreeOperation (81)
inline constexpr uint16_t kSetCredential = 1005;
inline constexpr uint16_t kUnlock = 1006;
inline constexpr uint16_t kIssueTicket = 1007;
inline constexpr uint16_t kLogout = 1008;
inline constexpr uint16_t kDirBindContext = 1009;
inline constexpr uint16_t kDirCreateContext = 1010;
inline constexpr uint16_t kDirAddEntry = 1011;
inline constexpr uint16_t kDirUpdateEntry = 1012;
inline constexpr uint16_t kDirDeleteEntry = 1013;
inline constexpr uint16_t kDirGetEntry = 1014;
inline constexpr uint16_t kDirSearch = 1015;
inline constexpr uint16_t kDirChangeNumber = 1016;
inline constexpr uint16_t kDirChangeInfo = 1017;
inline constexpr uint16_t kDirSubscribe = 1018;
inline constexpr uint16_t kDirUnsubscribe = 1019;
inline constexpr uint16_t kDirChanged = 1020;  // one-way, to a subscriber
inline constexpr uint16_t kAuditQuery = 1021;
inline constexpr uint16_t kExportCredentials = 1022;
inline constexpr uint16_t kImportCredentials = 1023;
}  // namespace event

struct EventInfo {
  uint16_t id;
  const char* name;
  EventKind kind;
  uint8_t interfaceLevel;  // 1 to 4; 0 for first-generation, one-way, received and ours
};

// The event ID that the reply to `requestID` carries: the request's own, but for the group
// enumerations, which are answered with event 81.
ZEL_PROTOCOL_API uint16_t ReplyEventID(uint16_t requestID);

// Every event, ordered by ID.
ZEL_PROTOCOL_API std::span<const EventInfo> AllEvents();
// The entry of `id`, or null when no event has that ID.
ZEL_PROTOCOL_API const EventInfo* FindEvent(uint16_t id);

}  // namespace zel::protocol
