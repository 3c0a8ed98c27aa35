// One or more filled values of every message of ours, for the table tests. Secret values are
// made of the markers below, so a test can look for them in whatever is shown.
#pragma once

#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "zel/protocol/messages.h"

namespace zel::protocol::samples {

using Bytes = std::vector<uint8_t>;

template <class M>
Bytes EncodeBytes(const M& message) {
  ZEL_BUF_BinBuffer out;
  Encode(message, out);
  return Bytes(out.GetData(), out.GetData() + out.GetSize());
}

// Text that only secret fields hold; a description that shows one of these shows a secret.
// Their hex forms too, as a byte field would show them.
inline const std::vector<std::string> kSecretMarkers = {"Hunter2", "48756e74657232", "S3cr3t",
                                                        "533363723374", "5a5a5a"};

inline Ticket MarkedTicket() {
  Ticket ticket;
  ticket.fill(0x5A);
  return ticket;
}
inline std::vector<StoredCredential> MarkedCredentials() {
  std::vector<StoredCredential> credentials(2);
  credentials[0].admin = 1;
  credentials[0].hash = SecretBytes("$argon2id$v=19$m=8,t=1,p=1$S3cr3t");
  credentials[1].admin = 2;
  credentials[1].hash = SecretBytes("Hunter2");
  return credentials;
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
inline const DirEntryName kByDN = {DirEntryName::kByDN, 3, ZELString(u"Objects/Web"), 0};
inline const DirEntryName kByUID = {DirEntryName::kByUID, 0, ZELString(), 0x0000012100000005};

// The filled samples, one list per message; a message without one here is tried as
// default-constructed (those of a few fixed-width fields).
inline const auto kFilled = std::make_tuple(
    std::vector<CreateFolderRequest>{{0x0000012100000007, ZELString(u"Reports")},
                                     {1, ZELString(u"")}},
    std::vector<RenameFolderRequest>{{0x0000012100000007, ZELString(u"Quarterly \"Q1\"")}},
    std::vector<MoveFolderMembersRequest>{{{1, 2, 0xFFFFFFFFFFFFFFFF}, 10, 11}, {{}, 10, 11}},
    std::vector<FolderOperationReply>{
        {0, 0x0000012100000009}, {0, 0}, {static_cast<int32_t>(0x80060008u), 0}},
    std::vector<EnumerateGroupRequest>{{ZELString(u"Root/Servers"), ZELString(u"Web"),
                                        ZELString(u"Web servers"), -2, 7, 0x0000012100000004,
                                        0xFFFFFFFFFFFFFFFF}},
    std::vector<SetCredentialRequest>{
        {0x0000012100000003, SecretBytes("Hunter2"), SecretBytes("S3cr3t \xC3\xA9t\xC3\xA9")},
        {0x0000012100000003, SecretBytes(""), SecretBytes(std::string(127, 'S'))}},
    std::vector<IssueTicketReply>{{0, MarkedTicket()}, {-5, {}}},
    std::vector<ResultReply>{{0}, {static_cast<int32_t>(0x80000003u)}},
    std::vector<ExportCredentialsReply>{{0, MarkedCredentials()}, {0, {}}, {-1, {}}},
    std::vector<ImportCredentialsRequest>{{MarkedCredentials()}},
    std::vector<DirBindContextRequest>{{ZELString(u"&AdminToolObjectContext")}},
    std::vector<DirBindContextReply>{{0, 4}, {-1, 0}},
    std::vector<DirCreateContextRequest>{
        {ZELString(u"AdminToolObjectContext"), ZELString(u"ServerNeighborhoods/N/AdminTool")}},
    std::vector<DirAddEntryRequest>{
        {3, ZELString(u"Objects/Web"), ZELString(u"CLASS-AdminToolObjectClass2"), Attributes()},
        {3, ZELString(u""), ZELString(u""), {}}},
    std::vector<DirAddEntryReply>{{0, 0x0000012100000005, ZELString(u"@0000012100000005")},
                                  {5, 7, ZELString(u"x")},
                                  {-1, 0, ZELString()}},
    std::vector<DirUpdateEntryRequest>{{kByDN, Attributes()}, {kByUID, Attributes()}},
    std::vector<DirDeleteEntryRequest>{{kByDN}, {kByUID}},
    std::vector<DirGetEntryRequest>{{kByDN}, {kByUID}},
    std::vector<DirGetEntryReply>{{0, Entry(0x0000012100000005)},
                                  {static_cast<int32_t>(0x8006000Du), {}}},
    std::vector<DirSearchRequest>{{3,
                                   ZELString(u"Objects"),
                                   1,
                                   ZELString(u"ATTRIBUTE-AdminSubsystemID=0016"),
                                   100,
                                   {9, 8, 7}},
                                  {3, ZELString(u""), 1, ZELString(u""), 0, {}}},
    std::vector<DirSearchReply>{{0, {Entry(1), Entry(2)}, {1, 2, 3, 4}}, {0, {}, {}}, {-1, {}, {}}},
    std::vector<DirChangeNumberReply>{{0, 12345678901}, {-1, 0}},
    std::vector<DirChangeInfoRequest>{{3, 100, 50}},
    std::vector<DirChangeInfoReply>{{0,
                                     102,
                                     {{101, DirChange::kAdded, 5, ZELString(u"Objects/A")},
                                      {102, DirChange::kDeleted, 6, ZELString(u"Objects/B")}},
                                     1},
                                    {-1, 0, {}, 0}},
    std::vector<DirSubscribeReply>{{0, 17}, {-1, 0}},
    std::vector<DirChangedNotification>{
        {17, 3, {103, DirChange::kUpdated, 5, ZELString(u"Objects/A")}}},
    std::vector<AuditQueryRequest>{{1700000000000, 0, ZELString(u"unix:alice"), 500, {4, 2}}},
    std::vector<AuditQueryReply>{
        {0,
         {{1700000000001, ZELString(u"NT:NORTH\\alice"), ZELString(u"unix:alice"), 88,
           ZELString(u"set privileges of 0x12"), 0},
          {1700000000002, ZELString(u"unix:bob"), ZELString(u"unix:bob"), 1005,
           ZELString(u"set credential"), -1}},
         {7}},
        {-1, {}, {}}});

template <class M, class Lists>
struct HasFilled;
template <class M, class... Lists>
struct HasFilled<M, std::tuple<Lists...>>
    : std::bool_constant<(std::is_same_v<std::vector<M>, Lists> || ...)> {};

template <class M>
std::vector<M> Of() {
  if constexpr (HasFilled<M, std::decay_t<decltype(kFilled)>>::value) {
    return std::get<std::vector<M>>(kFilled);
  } else {
    return {M{}};
  }
}

}  // namespace zel::protocol::samples
