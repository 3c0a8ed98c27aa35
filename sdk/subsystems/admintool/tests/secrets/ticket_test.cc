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

TEST(TicketTest, TheLayoutIsTheDocumentedOne) {
  const SecretKey key = KeyOf(1);
  const protocol::Ticket t = IssueTicket(key, {kAdmin, kIssued, kExpires});
  const std::vector<uint8_t> head = {
      0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // version 1, reserved
      0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x01,  // admin
      0x00, 0x88, 0x44, 0x70, 0x9e, 0x01, 0x00, 0x00,  // issued (ms)
      0x80, 0x76, 0x7b, 0x70, 0x9e, 0x01, 0x00, 0x00,  // expires (ms)
  };
  EXPECT_EQ(std::vector<uint8_t>(t.begin(), t.begin() + 32), head);
  EXPECT_EQ(std::vector<uint8_t>(t.begin() + 64, t.begin() + 88), std::vector<uint8_t>(24, 0));
  // The MAC is HMAC-SHA-512 of the first 88 bytes, cut to 32 bytes.
  uint8_t full[crypto_auth_hmacsha512_BYTES];
  crypto_auth_hmacsha512(full, t.data(), 88, key.data());
  EXPECT_EQ(std::vector<uint8_t>(t.begin() + 88, t.end()), std::vector<uint8_t>(full, full + 32));
  // The nonce is random: a second ticket of the same claims differs there.
  const protocol::Ticket again = IssueTicket(key, {kAdmin, kIssued, kExpires});
  EXPECT_NE(std::vector<uint8_t>(t.begin() + 32, t.begin() + 64),
            std::vector<uint8_t>(again.begin() + 32, again.begin() + 64));
}

TEST(TicketTest, EveryChangeIsFoundAndNamed) {
  struct Row {
    const char* what;
    uint32_t byte;  // flipped (xor 1); 120: none
    TicketCheck check;
  };
  const Row rows[] = {
      {"untouched", 120, TicketCheck::kValid},  {"version", 0, TicketCheck::kForged},
      {"reserved", 5, TicketCheck::kForged},    {"admin", 8, TicketCheck::kAltered},
      {"admin top", 15, TicketCheck::kAltered}, {"issued", 16, TicketCheck::kAltered},
      {"expires", 24, TicketCheck::kAltered},   {"nonce", 40, TicketCheck::kAltered},
      {"padding", 70, TicketCheck::kForged},    {"mac", 88, TicketCheck::kAltered},
      {"mac end", 119, TicketCheck::kAltered},
  };
  const SecretKey key = KeyOf(1);
  for (const Row& row : rows) {
    protocol::Ticket t = IssueTicket(key, {kAdmin, kIssued, kExpires});
    if (row.byte < 120) t[row.byte] ^= 1;
    TicketClaims claims;
    EXPECT_EQ(CheckTicket(key, t, kIssued + 1, &claims), row.check) << row.what;
    EXPECT_EQ(claims.admin, row.check == TicketCheck::kValid ? kAdmin : 0u) << row.what;
  }
}

TEST(TicketTest, TimeKeyAndFormDecide) {
  struct Row {
    const char* what;
    uint8_t keyFill;  // the checking key; the ticket is made with KeyOf(1)
    uint64_t issued, expires, now;
    TicketCheck check;
  };
  const Row rows[] = {
      {"fresh", 1, kIssued, kExpires, kIssued, TicketCheck::kValid},
      {"last ms", 1, kIssued, kExpires, kExpires - 1, TicketCheck::kValid},
      {"at expiry", 1, kIssued, kExpires, kExpires, TicketCheck::kExpired},
      {"long over", 1, kIssued, kExpires, kExpires * 2, TicketCheck::kExpired},
      {"other farm", 2, kIssued, kExpires, kIssued, TicketCheck::kAltered},
      {"other farm, over", 2, kIssued, kExpires, kExpires, TicketCheck::kAltered},
      {"no lifetime", 1, kIssued, kIssued, kIssued, TicketCheck::kForged},
      {"ends first", 1, kExpires, kIssued, kIssued, TicketCheck::kForged},
  };
  for (const Row& row : rows) {
    const protocol::Ticket t = IssueTicket(KeyOf(1), {kAdmin, row.issued, row.expires});
    TicketClaims claims;
    const TicketCheck check = CheckTicket(KeyOf(row.keyFill), t, row.now, &claims);
    EXPECT_EQ(check, row.check) << row.what << ": " << TicketCheckName(check);
    if (check == TicketCheck::kValid) {
      EXPECT_EQ(claims.admin, kAdmin);
      EXPECT_EQ(claims.issuedMs, row.issued);
      EXPECT_EQ(claims.expiresMs, row.expires);
    }
  }
  protocol::Ticket zeros{};
  TicketClaims claims;
  EXPECT_EQ(CheckTicket(KeyOf(1), zeros, kIssued, &claims), TicketCheck::kForged);
}

}  // namespace
}  // namespace zel::secrets
