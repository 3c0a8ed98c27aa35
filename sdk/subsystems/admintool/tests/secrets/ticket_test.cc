#include "secrets/ticket.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <vector>

namespace zel::secrets {
namespace {

constexpr uint64_t kAdmin = 0x0121000000000007;
constexpr uint64_t kIssued = 1'780'000'000'000;
constexpr uint64_t kExpires = kIssued + 3'600'000;

SecretKey KeyOf(uint8_t fill) {
  SecretKey key;
  for (uint32_t i = 0; i < SecretKey::kSize; ++i) key.data()[i] = static_cast<uint8_t>(fill + i);
  return key;
}

std::vector<uint8_t> Bytes(const protocol::Ticket& t, int from, int to) {
  return std::vector<uint8_t>(t.begin() + from, t.begin() + to);
}

TEST(TicketTest, TheLayoutIsTheDocumentedOne) {
  const SecretKey key = KeyOf(1);
  const protocol::Ticket t = IssueTicket(key, {kAdmin, kIssued, kExpires});
  const std::vector<uint8_t> head = {
      0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // version 1, reserved
      0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x01,  // admin
      0x00, 0x88, 0x44, 0x70, 0x9e, 0x01, 0x00, 0x00,  // issued (ms)
      0x80, 0x76, 0x7b, 0x70, 0x9e, 0x01, 0x00, 0x00,  // expires (ms)
  };
  EXPECT_EQ(Bytes(t, 0, 32), head);
  EXPECT_EQ(Bytes(t, 64, 88), std::vector<uint8_t>(24, 0));
  // The MAC is HMAC-SHA-512 of the first 88 bytes, cut to 32 bytes.
  uint8_t full[crypto_auth_hmacsha512_BYTES];
  crypto_auth_hmacsha512(full, t.data(), 88, key.data());
  EXPECT_EQ(Bytes(t, 88, 120), std::vector<uint8_t>(full, full + 32));
  // The nonce is random: a second ticket of the same claims differs there.
  EXPECT_NE(Bytes(t, 32, 64), Bytes(IssueTicket(key, {kAdmin, kIssued, kExpires}), 32, 64));
}

TEST(TicketTest, FormMacAndTimeDecideAndAreNamed) {
  struct Row {
    const char* what;
    int flip;         // byte flipped (xor 1); -1: none
    uint8_t keyFill;  // the checking key; tickets are made with KeyOf(1)
    uint64_t issued, expires, now;
    TicketCheck check;
  };
  using C = TicketCheck;
  const Row rows[] = {
      {"fresh", -1, 1, kIssued, kExpires, kIssued, C::kValid},
      {"last ms", -1, 1, kIssued, kExpires, kExpires - 1, C::kValid},
      {"at expiry", -1, 1, kIssued, kExpires, kExpires, C::kExpired},
      {"version", 0, 1, kIssued, kExpires, kIssued, C::kForged},
      {"reserved", 5, 1, kIssued, kExpires, kIssued, C::kForged},
      {"padding", 70, 1, kIssued, kExpires, kIssued, C::kForged},
      {"no lifetime", -1, 1, kIssued, kIssued, kIssued, C::kForged},
      {"admin", 15, 1, kIssued, kExpires, kIssued, C::kAltered},
      {"expiry", 24, 1, kIssued, kExpires, kIssued, C::kAltered},
      {"nonce", 40, 1, kIssued, kExpires, kIssued, C::kAltered},
      {"mac", 119, 1, kIssued, kExpires, kIssued, C::kAltered},
      {"another farm's key", -1, 2, kIssued, kExpires, kIssued, C::kAltered},
      {"another farm's, over", -1, 2, kIssued, kExpires, kExpires, C::kAltered},
  };
  for (const Row& row : rows) {
    protocol::Ticket t = IssueTicket(KeyOf(1), {kAdmin, row.issued, row.expires});
    if (row.flip >= 0) t[row.flip] ^= 1;
    TicketClaims claims;
    const TicketCheck check = CheckTicket(KeyOf(row.keyFill), t, row.now, &claims);
    EXPECT_EQ(check, row.check) << row.what << ": " << TicketCheckName(check);
    EXPECT_EQ(claims.admin, check == C::kValid ? kAdmin : 0u) << row.what;
    if (check == C::kValid) {
      EXPECT_EQ(claims.expiresMs, row.expires) << row.what;
    }
  }
}

}  // namespace
}  // namespace zel::secrets
