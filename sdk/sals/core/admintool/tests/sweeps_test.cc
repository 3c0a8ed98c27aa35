// Sweeps over every reply decoder: every prefix of a valid reply, every allocation made to fail
// in turn, and hostile values in every count field. After each, the decoder answers its code,
// its outputs are as its operation promises, and nothing is left allocated.
#include <gtest/gtest.h>

#include <functional>

#include "operation_io.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::rt::testing::Bytes;
using zel::sal::testing::Io;
using zel::sal::testing::Sal;

struct Decoder {
  const char* name;
  Bytes reply;                      // a valid reply, result 0
  std::vector<std::size_t> counts;  // offsets of uint32 count fields in it
  int32_t shortCode;                // what a reply that ends early gives
  std::function<int32_t(Sal&, Io&)> call;
  std::function<bool(const Io&)> cleared;  // whether a failure left the outputs empty
};
Decoder Decodes(const char* name, Bytes reply, std::vector<std::size_t> counts, int32_t shortCode,
                std::function<int32_t(Sal&, Io&)> call, std::function<bool(const Io&)> cleared) {
  return {name,      std::move(reply), std::move(counts),
          shortCode, std::move(call),  std::move(cleared)};
}

Bytes Reply(const std::function<void(ZEL_BUF_BinBuffer&)>& body) {
  return zel::rt::testing::Write([&](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0};
    body(out);
  });
}

const uint32_t kValues[] = {1, 2};
constexpr int32_t kLeftStale = 0x5A5A;

// Runs `call` with `*output` pointing at a stale address first: the operation must clear it on
// entry. One that leaves it there answers kLeftStale (and the address is dropped unfreed).
template <typename T, typename Call>
int32_t FromStale(T*& output, Call call) {
  static T stale[1];
  output = stale;
  const int32_t result = call();
  if (output != stale) return result;
  output = nullptr;
  return kLeftStale;
}

std::vector<Decoder> Decoders() {
  const auto folders = [](ZEL_BUF_BinBuffer& out) {
    out << uint32_t{1} << uint64_t{70} << uint32_t{2};
    out.AppendBytes(kValues, 8);
  };
  const auto admin = [](ZEL_BUF_BinBuffer& out) {  // counts at 4 and 34
    out << uint32_t{1} << ZELString(u"a") << ZELString(u"NT") << uint32_t{1} << uint32_t{2}
        << uint32_t{2};
    out.AppendBytes(kValues, 8);
  };
  const auto contact = [](ZEL_BUF_BinBuffer& out) {
    out << ZELString(u"c1") << ZELString(u"c2") << ZELString(u"c3");
  };
  return {
      Decodes(
          "Logon2", Reply([](ZEL_BUF_BinBuffer& out) {
            out << ZELString(u"n") << uint32_t{1} << uint32_t{2};  // count at 16
            out.AppendBytes(kValues, 8);
            out << uint32_t{1} << uint64_t{9};  // count at 28
          }),
          {16, 28}, ZEL_E_SHORT_REPLY, [](Sal&, Io& o) { return o.Logon2(); },
          [](const Io& o) { return o.values == nullptr && o.uids == nullptr && o.n == 0; }),
      Decodes(
          "GetPrivilege2", Reply([](ZEL_BUF_BinBuffer& out) {
            out << uint32_t{8} << uint32_t{9} << uint32_t{2};  // count at 12
            out.AppendBytes(kValues, 8);
          }),
          {12}, ZEL_E_SHORT_REPLY,
          [](Sal& s, Io& o) {
            return FromStale(o.array,
                             [&] { return s.GetPrivilege2(1, o.a1, o.a2, o.n, &o.array); });
          },
          [](const Io& o) { return o.array == nullptr; }),
      Decodes(
          "GetStaticGroupPermission", Reply([](ZEL_BUF_BinBuffer& out) {
            out << ZELString(u"G") << uint32_t{1} << uint64_t{5} << uint32_t{2};
            out.AppendBytes(kValues, 8);
          }),
          {12, 24}, ZEL_E_SHORT_REPLY,
          [](Sal& s, Io& o) { return s.GetStaticGroupPermission(o.group, o.n, &o.caps); },
          [](const Io& o) { return o.caps == nullptr; }),
      Decodes(
          "EnumerateKeldraAdmins", Reply(admin), {4, 34}, ZEL_E_SHORT_REPLY,
          [](Sal& s, Io& o) {
            return FromStale(o.records,
                             [&] { return s.EnumerateKeldraAdmins(o.n, &o.records, 0, 0); });
          },
          [](const Io& o) { return o.records == nullptr && o.n == 0; }),
      Decodes(
          "GetPrivilege3", Reply([&](ZEL_BUF_BinBuffer& out) {
            out << uint32_t{1} << uint32_t{2} << uint32_t{2};  // privileges at 12
            out.AppendBytes(kValues, 8);
            folders(out);  // folders at 24, tasks at 36
            contact(out);
          }),
          {12, 24, 36}, ZEL_E_SHORT_REPLY,
          [](Sal& s, Io& o) { return s.GetPrivilege3(1, o.record2, o.contact); },
          [](const Io& o) { return o.record2 == nullptr; }),
      Decodes(
          "EnumerateKeldraAdmins2", Reply([&](ZEL_BUF_BinBuffer& out) {
            admin(out);
            out << uint64_t{3};
            folders(out);  // folders at 54, tasks at 66
            contact(out);
          }),
          {4, 34, 54, 66}, ZEL_E_SHORT_REPLY,
          [](Sal& s, Io& o) {
            try {
              return s.EnumerateKeldraAdmins2(o.n, &o.records2, o.contacts2, 0, 0);
            } catch (const bad_alloc&) {
              return ZEL_E_NO_EVENT;  // this one lets the library's bad_alloc through
            }
          },
          [](const Io& o) { return o.records2 == nullptr && o.contacts2 == nullptr && o.n == 0; }),
      Decodes(
          "GetPermissionsForCurrentUser", Reply(folders), {4, 16}, ZEL_E_SHORT_REPLY,
          [](Sal& s, Io& o) { return s.GetPermissionsForCurrentUser(o.permitted); },
          [](const Io& o) { return o.permitted == nullptr; }),
      Decodes(
          "GetPrivilegesByBlob", Reply([](ZEL_BUF_BinBuffer& out) {
            out << uint8_t{1} << uint32_t{2} << uint32_t{2};  // count at 9
            out.AppendBytes(kValues, 8);
          }),
          {9}, ZEL_E_SHORT_REPLY,
          [](Sal& s, Io& o) {
            return s.GetPrivilegesByBlob(o.account, o.flag, o.a1, o.n, &o.array);
          },
          [](const Io& o) { return o.array == nullptr; }),
      Decodes(
          "GetVoAdminAccountsForTicket", Reply([](ZEL_BUF_BinBuffer& out) {
            const uint64_t uids[] = {1, 2};
            out << uint32_t{2};  // count at 4
            out.AppendBytes(uids, 16);
            out << uint32_t{1} << uint32_t{2} << uint32_t{3} << uint32_t{4};
          }),
          {4}, ZEL_E_FAIL,
          [](Sal& s, Io& o) {
            return s.GetVoAdminAccountsForTicket(zel::sal::testing::Ticket(), o.accounts);
          },
          [](const Io& o) { return o.accounts == nullptr; }),
  };
}

class SweepTest : public zel::sal::testing::SalTest {
 protected:
  SweepTest() { host_.SetHasPluginApis(false); }  // no local implementation: events only

  // Runs `decoder` on fresh outputs with its `nth` allocation failing (0: none); checks what a
  // failure leaves, and that nothing is held once the outputs are released.
  int32_t Run(const Decoder& decoder, uint32_t nth = 0) {
    const uint64_t held = zel::rt::GetAllocationStats().outstanding();
    int32_t result = 0;
    {
      Io io(sal_);
      const uint64_t bytes = zel::rt::GetAllocationStats().bytes;
      zel::rt::FailNthAllocation(nth);
      result = decoder.call(sal_, io);
      zel::rt::FailNthAllocation(0);
      callBytes_ = zel::rt::GetAllocationStats().bytes - bytes;
      EXPECT_TRUE(result >= 0 || decoder.cleared(io)) << decoder.name << " answering " << result;
    }
    EXPECT_EQ(zel::rt::GetAllocationStats().outstanding(), held) << decoder.name;
    return result;
  }

  Sal sal_{host_};
  uint64_t callBytes_ = 0;
};

TEST_F(SweepTest, EveryPrefixOfAValidReplyIsShortAndLeavesNothing) {
  for (const Decoder& decoder : Decoders()) {
    host_.QueueReply(decoder.reply);
    ASSERT_EQ(Run(decoder), 0) << decoder.name << " rejects its valid reply";
    for (std::size_t cut = 4; cut < decoder.reply.size(); ++cut) {
      host_.QueueReply(
          Bytes(decoder.reply.begin(), decoder.reply.begin() + static_cast<std::ptrdiff_t>(cut)));
      EXPECT_EQ(Run(decoder), decoder.shortCode) << decoder.name << " cut at " << cut;
    }
  }
}

TEST_F(SweepTest, ANegativeResultIsAnsweredAsItIsAndLeavesNothing) {
  for (const Decoder& decoder : Decoders()) {
    host_.QueueReply(zel::rt::testing::Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{-5}; }));
    EXPECT_EQ(Run(decoder), -5) << decoder.name;
  }
}

TEST_F(SweepTest, EveryAllocationMadeToFailGivesACodeAndLeavesNothing) {
  for (const Decoder& decoder : Decoders()) {
    host_.SetResponder([&](const zel::rt::testing::RecordedEvent&, Bytes* out) {
      *out = decoder.reply;
      return int32_t{0};
    });
    uint32_t nth = 1;
    for (int32_t result; (result = Run(decoder, nth)) != 0; ++nth) {
      EXPECT_LT(result, 0) << decoder.name << " allocation " << nth;
      ASSERT_LT(nth, 50u) << decoder.name << " never succeeds";
    }
    EXPECT_GE(nth, 5u) << decoder.name;  // events and storage on both sides, then its own
  }
}

TEST_F(SweepTest, HostileCountsAreShortRepliesFoundBeforeAllocating) {
  for (const Decoder& decoder : Decoders()) {
    for (std::size_t offset : decoder.counts) {
      for (uint32_t hostile : {0xFFFFFFFFu, 0x40000000u}) {
        Bytes reply = decoder.reply;
        ASSERT_LE(offset + 4, reply.size()) << decoder.name;
        uint32_t original = 0;
        std::memcpy(&original, reply.data() + offset, 4);
        ASSERT_LE(original, 2u) << decoder.name << ": no count at " << offset;
        std::memcpy(reply.data() + offset, &hostile, 4);
        host_.QueueReply(reply);
        EXPECT_EQ(Run(decoder), decoder.shortCode) << decoder.name << " at " << offset;
        EXPECT_LT(callBytes_, 4 * reply.size() + 1024)
            << decoder.name << " allocated for a count it could not fill";
      }
    }
  }
}

}  // namespace
