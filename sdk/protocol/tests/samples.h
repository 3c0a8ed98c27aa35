// One or more filled values of every message of ours, for the table tests. Secret values are
// made of the markers below, so a test can look for them in whatever is shown.
#pragma once

#include <string>
#include <vector>

#include "zel/protocol/messages.h"

namespace zel::protocol::samples {

using Bytes = std::vector<uint8_t>;

// Text that only secret fields hold; a description that shows one of these shows a secret.
// Their hex forms too, as a byte field would show them.
inline const std::vector<std::string> kSecretMarkers = {"Hunter2", "48756e74657232", "S3cr3t",
                                                        "533363723374", "5a5a5a"};

// Messages of a few fixed-width fields are tried as default-constructed; the others have their
// own filled samples below.
template <class M>
std::vector<M> Of() {
  return {M{}};
}

template <>
inline std::vector<CreateFolderRequest> Of() {
  return {{0x0000012100000007, ZELString(u"Reports")}, {1, ZELString(u"")}};
}
template <>
inline std::vector<RenameFolderRequest> Of() {
  return {{0x0000012100000007, ZELString(u"Quarterly \"Q1\"")}};
}
template <>
inline std::vector<MoveFolderMembersRequest> Of() {
  return {{{1, 2, 0xFFFFFFFFFFFFFFFF}, 10, 11}, {{}, 10, 11}};
}
template <>
inline std::vector<FolderOperationReply> Of() {
  return {{0, 0x0000012100000009}, {0, 0}, {static_cast<int32_t>(0x80060008u), 0}};
}

template <>
inline std::vector<EnumerateGroupRequest> Of() {
  return {{ZELString(u"Root/Servers"), ZELString(u"Web"), ZELString(u"Web servers"), -2, 7,
           0x0000012100000004, 0xFFFFFFFFFFFFFFFF}};
}

template <>
inline std::vector<SetCredentialRequest> Of() {
  return {{0x0000012100000003, SecretBytes("Hunter2"), SecretBytes("S3cr3t \xC3\xA9t\xC3\xA9")},
          {0x0000012100000003, SecretBytes(""), SecretBytes(std::string(127, 'S'))}};
}
inline Ticket MarkedTicket() {
  Ticket ticket;
  ticket.fill(0x5A);
  return ticket;
}
template <>
inline std::vector<IssueTicketReply> Of() {
  return {{0, MarkedTicket()}, {-5, {}}};
}
template <>
inline std::vector<ResultReply> Of() {
  return {{0}, {static_cast<int32_t>(0x80000003u)}};
}
inline std::vector<StoredCredential> MarkedCredentials() {
  std::vector<StoredCredential> credentials(2);
  credentials[0].admin = 1;
  credentials[0].hash = SecretBytes("$argon2id$v=19$m=8,t=1,p=1$S3cr3t");
  credentials[1].admin = 2;
  credentials[1].hash = SecretBytes("Hunter2");
  return credentials;
}
template <>
inline std::vector<ExportCredentialsReply> Of() {
  return {{0, MarkedCredentials()}, {0, {}}, {-1, {}}};
}
template <>
inline std::vector<ImportCredentialsRequest> Of() {
  return {{MarkedCredentials()}};
}

inline std::vector<DirAttribute> Attributes() {
  const std::vector<uint8_t> title = {'T', 0, 'x', 0};
  return {{ZELString(u"ATTRIBUTE-AdminTitle"), {{ZELString(u"css"), 7, title}}},
          {ZELString(u"ATTRIBUTE-AdminGroupCapabilities"),
           {{ZELString(u"uint32"), 12, {1, 0, 0, 0}}, {ZELString(u"uint32"), 12, {2, 0, 0, 0}}}},
          {ZELString(u"ATTRIBUTE-AdminBits"), {}}};
}
inline DirEntry Entry(uint64_t uid) {
  return {uid, 3, ZELString(u"Objects/Web\\/1"), ZELString(u"CLASS-AdminToolObjectClass2"),
          Attributes()};
}
inline std::vector<DirEntryName> EntryNames() {
  return {{DirEntryName::kByDN, 3, ZELString(u"Objects/Web"), 0},
          {DirEntryName::kByUID, 0, ZELString(), 0x0000012100000005}};
}
template <>
inline std::vector<DirBindContextRequest> Of() {
  return {{ZELString(u"&AdminToolObjectContext")}};
}
template <>
inline std::vector<DirBindContextReply> Of() {
  return {{0, 4}, {-1, 0}};
}
template <>
inline std::vector<DirCreateContextRequest> Of() {
  return {{ZELString(u"AdminToolObjectContext"), ZELString(u"ServerNeighborhoods/N/AdminTool")}};
}
template <>
inline std::vector<DirAddEntryRequest> Of() {
  return {{3, ZELString(u"Objects/Web"), ZELString(u"CLASS-AdminToolObjectClass2"), Attributes()},
          {3, ZELString(u""), ZELString(u""), {}}};
}
template <>
inline std::vector<DirAddEntryReply> Of() {
  return {{0, 0x0000012100000005, ZELString(u"@0000012100000005")},
          {5, 7, ZELString(u"x")},
          {-1, 0, ZELString()}};
}
template <>
inline std::vector<DirUpdateEntryRequest> Of() {
  std::vector<DirUpdateEntryRequest> all;
  for (const DirEntryName& name : EntryNames()) all.push_back({name, Attributes()});
  return all;
}
template <>
inline std::vector<DirDeleteEntryRequest> Of() {
  std::vector<DirDeleteEntryRequest> all;
  for (const DirEntryName& name : EntryNames()) all.push_back({name});
  return all;
}
template <>
inline std::vector<DirGetEntryRequest> Of() {
  std::vector<DirGetEntryRequest> all;
  for (const DirEntryName& name : EntryNames()) all.push_back({name});
  return all;
}
template <>
inline std::vector<DirGetEntryReply> Of() {
  return {{0, Entry(0x0000012100000005)}, {static_cast<int32_t>(0x8006000Du), {}}};
}
template <>
inline std::vector<DirSearchRequest> Of() {
  return {
      {3, ZELString(u"Objects"), 1, ZELString(u"ATTRIBUTE-AdminSubsystemID=0016"), 100, {9, 8, 7}},
      {3, ZELString(u""), 1, ZELString(u""), 0, {}}};
}
template <>
inline std::vector<DirSearchReply> Of() {
  return {{0, {Entry(1), Entry(2)}, {1, 2, 3, 4}}, {0, {}, {}}, {-1, {}, {}}};
}
template <>
inline std::vector<DirChangeNumberReply> Of() {
  return {{0, 12345678901}, {-1, 0}};
}
template <>
inline std::vector<DirChangeInfoRequest> Of() {
  return {{3, 100, 50}};
}
template <>
inline std::vector<DirChangeInfoReply> Of() {
  return {{0,
           102,
           {{101, DirChange::kAdded, 5, ZELString(u"Objects/A")},
            {102, DirChange::kDeleted, 6, ZELString(u"Objects/B")}},
           1},
          {-1, 0, {}, 0}};
}
template <>
inline std::vector<DirSubscribeReply> Of() {
  return {{0, 17}, {-1, 0}};
}
template <>
inline std::vector<DirChangedNotification> Of() {
  return {{17, 3, {103, DirChange::kUpdated, 5, ZELString(u"Objects/A")}}};
}

template <>
inline std::vector<AuditQueryRequest> Of() {
  return {{1700000000000, 0, ZELString(u"unix:alice"), 500, {4, 2}}};
}
template <>
inline std::vector<AuditQueryReply> Of() {
  return {{0,
           {{1700000000001, ZELString(u"NT:NORTH\\alice"), ZELString(u"unix:alice"), 88,
             ZELString(u"set privileges of 0x12"), 0},
            {1700000000002, ZELString(u"unix:bob"), ZELString(u"unix:bob"), 1005,
             ZELString(u"set credential"), -1}},
           {7}},
          {-1, {}, {}}};
}

}  // namespace zel::protocol::samples
