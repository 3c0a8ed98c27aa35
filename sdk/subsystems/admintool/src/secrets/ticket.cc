#include "secrets/ticket.h"

#include <sodium.h>

#include <algorithm>

#include "zel/runtime/wire.h"

namespace zel::secrets {
namespace {

// Offsets of the fields (the grammar is in ticket.h).
constexpr uint32_t kVersionAt = 0;
constexpr uint32_t kReservedAt = 4;
constexpr uint32_t kAdminAt = 8;
constexpr uint32_t kIssuedAt = 16;
constexpr uint32_t kExpiresAt = 24;
constexpr uint32_t kNonceAt = 32;
constexpr uint32_t kNonceSize = 32;
constexpr uint32_t kPaddingAt = kNonceAt + kNonceSize;
constexpr uint32_t kMacAt = 88;
static_assert(kMacAt + crypto_auth_BYTES == protocol::kTicketSize);
static_assert(SecretKey::kSize == crypto_auth_KEYBYTES);

bool InOurForm(const protocol::Ticket& t) {
  const auto zero = [&](uint32_t from, uint32_t to) {
    return std::all_of(t.begin() + from, t.begin() + to, [](uint8_t b) { return b == 0; });
  };
  return wire::Load<uint32_t>(t.data() + kVersionAt) == kTicketVersion &&
         zero(kReservedAt, kAdminAt) && zero(kPaddingAt, kMacAt) &&
         wire::Load<uint64_t>(t.data() + kExpiresAt) > wire::Load<uint64_t>(t.data() + kIssuedAt);
}

}  // namespace

const char* TicketCheckName(TicketCheck check) {
  switch (check) {
    case TicketCheck::kValid:
      return "valid";
    case TicketCheck::kForged:
      return "forged";
    case TicketCheck::kAltered:
      return "altered";
    case TicketCheck::kExpired:
      return "expired";
  }
  return "?";
}

protocol::Ticket IssueTicket(const SecretKey& key, const TicketClaims& claims) {
  protocol::Ticket t{};
  wire::Store(t.data() + kVersionAt, kTicketVersion);
  wire::Store(t.data() + kAdminAt, claims.admin);
  wire::Store(t.data() + kIssuedAt, claims.issuedMs);
  wire::Store(t.data() + kExpiresAt, claims.expiresMs);
  randombytes_buf(t.data() + kNonceAt, kNonceSize);
  crypto_auth(t.data() + kMacAt, t.data(), kMacAt, key.data());
  return t;
}

TicketCheck CheckTicket(const SecretKey& key, const protocol::Ticket& ticket, uint64_t nowMs,
                        TicketClaims* claims) {
  if (!InOurForm(ticket)) return TicketCheck::kForged;
  if (crypto_auth_verify(ticket.data() + kMacAt, ticket.data(), kMacAt, key.data()) != 0) {
    return TicketCheck::kAltered;
  }
  const TicketClaims read{wire::Load<uint64_t>(ticket.data() + kAdminAt),
                          wire::Load<uint64_t>(ticket.data() + kIssuedAt),
                          wire::Load<uint64_t>(ticket.data() + kExpiresAt)};
  if (nowMs >= read.expiresMs) return TicketCheck::kExpired;
  *claims = read;
  return TicketCheck::kValid;
}

}  // namespace zel::secrets
