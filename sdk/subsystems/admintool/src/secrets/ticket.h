// Tickets: 120 bytes the farm gives an administrator and recognises when they come back.
// Only servers hold the ticket key, so only a server can make one; consoles carry them as
// opaque bytes.
//
//   ticket   = version:u32 (1) reserved:u32 (0) admin:u64 issuedMs:u64 expiresMs:u64
//              nonce:bytes[32] reserved:bytes[24] (zero) mac:bytes[32]
//   mac      = HMAC-SHA-512-256 (libsodium crypto_auth) of the first 88 bytes, keyed with the
//              ticket key
//
// Integers are little-endian; times are milliseconds since 1970 UTC; the nonce is random, so
// two tickets of one administrator issued in the same millisecond still differ.
#pragma once

#include <cstdint>

#include "secrets/secret_key.h"
#include "zel/protocol/credentials.h"

namespace zel::secrets {

inline constexpr uint32_t kTicketVersion = 1;
// What a ticket lives when the request asks for 0 seconds, and the most it may ask for.
inline constexpr uint32_t kDefaultTicketSeconds = 8 * 60 * 60;
inline constexpr uint32_t kMaxTicketSeconds = 7 * 24 * 60 * 60;

struct TicketClaims {
  uint64_t admin = 0;
  uint64_t issuedMs = 0;
  uint64_t expiresMs = 0;
};

// Why a ticket is refused, for the server's own log and audit; the caller only ever hears
// one negative code.
enum class TicketCheck {
  kValid,
  kForged,   // not in the form the farm writes (version, reserved bytes, times)
  kAltered,  // in that form, but the MAC does not match: changed, or made without our key
  kExpired,  // ours and unchanged, but its time is over
};

const char* TicketCheckName(TicketCheck check);

// A ticket for `claims` (expiresMs after issuedMs), with a fresh nonce.
protocol::Ticket IssueTicket(const SecretKey& key, const TicketClaims& claims);

// Checks the form, then the MAC (in constant time), then the expiry against nowMs; *claims is
// written only for a valid ticket.
TicketCheck CheckTicket(const SecretKey& key, const protocol::Ticket& ticket, uint64_t nowMs,
                        TicketClaims* claims);

}  // namespace zel::secrets
