// Credentials, logon state and tickets of administrators. Passwords travel only here, as UTF-8
// without terminator of at most 127 characters (a reader refuses anything else); they, the
// tickets and the stored hashes are secret fields, which no description shows.
//
//   set credential request     (event kSetCredential)
//                                = admin:u64 oldPassword:password newPassword:password
//   unlock request             (event kUnlock) = admin:u64
//   issue ticket request       (event kIssueTicket) = lifetimeSeconds:u32
//   issue ticket reply         = result:i32 [ticket:fixed[120]]        ticket only when result >= 0
//   logout request             (event kLogout) = (nothing)
//   export credentials request (event kExportCredentials) = (nothing)
//   export credentials reply   = result:i32 [credentials:list]   list only when result >= 0
//   import credentials request (event kImportCredentials) = credentials:list
//   credential                 = admin:u64 hash:secret
//   the other replies          = result:i32
//
// An empty old password is the one a caller who may set others' passwords sends.
// lifetimeSeconds 0 asks for the farm's default lifetime.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "zel/protocol/events.h"
#include "zel/protocol/grammar.h"

namespace zel::protocol {

inline constexpr uint32_t kTicketSize = 120;
using Ticket = std::array<uint8_t, kTicketSize>;

struct SetCredentialRequest {
  static constexpr uint16_t kEventID = event::kSetCredential;
  uint64_t admin = 0;
  SecretBytes oldPassword;
  SecretBytes newPassword;

  template <class V>
  void Fields(V& v) {
    v.UID("admin", admin);
    v.Password("oldPassword", oldPassword);
    v.Password("newPassword", newPassword);
  }
};

struct UnlockRequest {
  static constexpr uint16_t kEventID = event::kUnlock;
  uint64_t admin = 0;

  template <class V>
  void Fields(V& v) {
    v.UID("admin", admin);
  }
};

struct IssueTicketRequest {
  static constexpr uint16_t kEventID = event::kIssueTicket;
  uint32_t lifetimeSeconds = 0;

  template <class V>
  void Fields(V& v) {
    v.U32("lifetimeSeconds", lifetimeSeconds);
  }
};

struct IssueTicketReply {
  int32_t result = 0;
  Ticket ticket{};

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
    if (v.Present(result >= 0)) v.Fixed("ticket", ticket);
  }
};

struct LogoutRequest {
  static constexpr uint16_t kEventID = event::kLogout;

  template <class V>
  void Fields(V&) {}
};

// One administrator's stored password hash, as the farm keeps it.
struct StoredCredential {
  uint64_t admin = 0;
  SecretBytes hash;

  template <class V>
  void Fields(V& v) {
    v.UID("admin", admin);
    v.Secret("hash", hash);
  }
};

struct ExportCredentialsRequest {
  static constexpr uint16_t kEventID = event::kExportCredentials;

  template <class V>
  void Fields(V&) {}
};

struct ExportCredentialsReply {
  int32_t result = 0;
  std::vector<StoredCredential> credentials;

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
    if (v.Present(result >= 0)) v.List("credentials", credentials);
  }
};

struct ImportCredentialsRequest {
  static constexpr uint16_t kEventID = event::kImportCredentials;
  std::vector<StoredCredential> credentials;

  template <class V>
  void Fields(V& v) {
    v.List("credentials", credentials);
  }
};

}  // namespace zel::protocol
