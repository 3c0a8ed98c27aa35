// The send path, the in-process farm, plug-in tables, the SAL base and the scripted host.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <tuple>
#include <vector>

#include "zel/runtime/codes.h"
#include "zel/runtime/farm.h"
#include "zel/runtime/reader.h"
#include "zel/runtime/testing/scripted_host.h"
#include "zel/runtime/testing/vtable_slot.h"

namespace {

using zel::rt::FarmSubsystem;
using zel::rt::InProcessFarm;
using zel::rt::testing::Bytes;
using zel::rt::testing::ScriptedHost;
using zel::rt::testing::VirtualSlot;
using zel::rt::testing::Write;

// A responder that answers every request with its event ID doubled.
int32_t Doubler(const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** reply) {
  ZEL_BUF_EventBuffer* answer = nullptr;
  const int32_t created =
      request.CreateReplyEvent(&answer, request.GetEventID(), ZELVersion(1, 0), 22, 8);
  if (created < 0) return created;
  *answer << int32_t{0} << uint32_t{2u * request.GetEventID()};
  *reply = answer;
  return 3;  // a positive status travels back unchanged
}

TEST(InProcessFarmTest, RoutesRequestsToTheTargetAndReportsEveryFailure) {
  const uint64_t live = zel::rt::LiveEventCount();
  {
    InProcessFarm farm;
    FarmSubsystem& client = farm.AddSubsystem(5);
    farm.AddSubsystem(22).SetRequestHandler(Doubler);
    farm.AddSubsystem(23).SetRequestHandler(
        [](const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** out) {
          request.CreateReplyEvent(out, 1, ZELVersion(1, 0), 23, 0);  // refused with its code
          return int32_t{-7};
        });
    farm.AddSubsystem(24).SetRequestHandler(
        [](const ZEL_BUF_EventBuffer&, ZEL_BUF_EventBuffer**) { return int32_t{0}; });
    ZEL_BUF_EventBuffer* reply = nullptr;
    auto send = [&](uint16_t source, uint16_t target) {
      reply = nullptr;
      return SendSALEvent2(CreateSALEvent2(48, ZELVersion(1, 0), 0, source, target, 1), &reply,
                           client, 0);
    };
    EXPECT_EQ(send(5, 22), 3);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->GetDestSubsystemUID(), 5);
    {
      ZEL_BUF_BufferReader reader(reply, 1);
      int32_t result;
      uint32_t doubled;
      reader >> result >> doubled;
      EXPECT_EQ(doubled, 96u);
    }
    EXPECT_EQ(send(5, 99), zel::rt::kNoSuchSubsystem);
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(send(22, 5), zel::rt::kNotAccepted);
    EXPECT_EQ(send(5, 23), -7);
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(send(5, 24), zel::rt::kNoReply);
    EXPECT_EQ(SendSALEvent2(nullptr, &reply, client, 0), zel::rt::kInvalidArgument);
  }
  EXPECT_EQ(zel::rt::LiveEventCount(), live);  // every request and refused reply was released
}

TEST(InProcessFarmTest, OneWayEventsReachTheSubsystemTheyName) {
  InProcessFarm farm;
  FarmSubsystem& console = farm.AddSubsystem(1);
  FarmSubsystem& sender = farm.AddSubsystem(22);

  void* acquired = nullptr;
  ASSERT_EQ(ZelPluginApis.AcquireInterface(kZelEventDispatcherInterface, &acquired), 0);
  auto* dispatcher = static_cast<ZEL_PIF_EventDispatcher*>(acquired);
  EXPECT_EQ(dispatcher->PostEvent(CreateSALEvent2(95, ZELVersion(1, 0), 0, 22, 1, 1)), 0);
  EXPECT_EQ(dispatcher->PostEvent(CreateSALEvent2(95, ZELVersion(1, 0), 0, 22, 77, 1)),
            zel::rt::kNoSuchSubsystem);
  EXPECT_EQ(ZelPluginApis.ReleaseInterface(kZelEventDispatcherInterface, acquired), 0);
  EXPECT_EQ(sender.DeliverEvent(CreateSALEvent2(81, ZELVersion(1, 0), 0, 22, 1, 1), 0xFFFFFFFF), 0);

  ASSERT_EQ(console.Inbox().size(), 2u);
  EXPECT_EQ(console.Inbox()[0]->GetEventID(), 95);
  EXPECT_EQ(console.Inbox()[1]->GetEventID(), 81);
  EXPECT_TRUE(sender.Inbox().empty());
}

TEST(InProcessFarmTest, RequestsAndPostsCarryTheSendersIdentity) {
  InProcessFarm farm;
  farm.AddSubsystem(5).SetPeer("unix:alice", false);
  farm.AddSubsystem(6).SetPeer("unix:root", true);
  farm.AddSubsystem(7);  // given no identity
  std::vector<zel::rt::Caller> seen;
  FarmSubsystem& target = farm.AddSubsystem(22);
  target.SetCallerRequestHandler([&](const zel::rt::Caller& caller,
                                     const ZEL_BUF_EventBuffer& request,
                                     ZEL_BUF_EventBuffer** reply) {
    seen.push_back(caller);
    return Doubler(request, reply);
  });
  target.SetPostHandler([&](const zel::rt::Caller& caller, std::unique_ptr<ZEL_BUF_EventBuffer>) {
    seen.push_back(caller);
  });

  for (uint16_t source : {5, 6, 7, 9}) {
    ZEL_BUF_EventBuffer* reply = nullptr;
    EXPECT_EQ(farm.Send(CreateSALEvent2(48, ZELVersion(1, 0), 0, source, 22, 1), &reply), 3);
    delete reply;
  }
  EXPECT_EQ(farm.Post(CreateSALEvent2(81, ZELVersion(1, 0), 0, 6, 22, 1)), zel::rt::kOk);

  const std::vector<zel::rt::Caller> expected = {
      {0, 5, "unix:alice", false},
      {0, 6, "unix:root", true},
      {0, 7, "", false},
      {0, 9, "", false},  // a source outside the farm has no identity
      {0, 6, "unix:root", true}};
  EXPECT_EQ(seen, expected);
  EXPECT_TRUE(target.Inbox().empty()) << "a post handler takes posts instead of the inbox";
}

TEST(PluginRegistryTest, InterfacesAreOfferedByNumberSlotsRunOutAndWithdrawCountsHolders) {
  InProcessFarm farm;
  FarmSubsystem& host = farm.AddSubsystem(5);
  EXPECT_EQ(farm.FindSubsystem(5), &host);
  EXPECT_EQ(farm.FindSubsystem(6), nullptr);
  int local = 0;
  ASSERT_EQ(host.Plugins().Offer(2300, &local), 0);
  ZelPluginApiTable* table = host.GetPluginApis();
  ASSERT_NE(table, nullptr);
  void* got = &local;
  EXPECT_EQ(table->AcquireInterface(2301, &got), zel::rt::kNoSuchInterface);
  EXPECT_EQ(got, nullptr);
  ASSERT_EQ(table->AcquireInterface(2300, &got), 0);
  EXPECT_EQ(got, &local);
  EXPECT_EQ(table->ReleaseInterface(2300, &farm), zel::rt::kInvalidArgument);  // not what it gave
  EXPECT_EQ(table->ReleaseInterface(2300, got), 0);
  EXPECT_EQ(table->ReleaseInterface(2300, got), zel::rt::kInvalidArgument);  // released twice
  EXPECT_EQ(host.Plugins().ReleaseCount(2300), 1u);

  zel::rt::PluginRegistry registry;
  for (uint32_t n = 0; n < zel::rt::PluginRegistry::kMaxOffers; ++n) {
    ASSERT_EQ(registry.Offer(n, &local), 0);
  }
  EXPECT_EQ(registry.Offer(999, &local), zel::rt::kNoMemory);
  EXPECT_EQ(registry.Offer(3, &local), 0);  // replacing an offer needs no new slot
  registry.AcquireInterface(3, &got);
  registry.AcquireInterface(3, &got);
  EXPECT_EQ(registry.Withdraw(3), 2u);
  EXPECT_EQ(registry.Offered(3), nullptr);
  EXPECT_EQ(registry.Offer(999, &local), 0);  // the withdrawn slot is free again
}

TEST(SalBaseTest, KeepsTheCallersLow16BitsAndSendsThroughTheHost) {
  ScriptedHost host(0x12340005);
  ZEL_PIF_SAL sal(host, 22);
  EXPECT_EQ(sal.GetCallerSubsystemUID(), 5);

  host.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{1}; }), 1);
  ZEL_BUF_EventBuffer* event = sal.CreateSALEvent(30, ZELVersion(1, 0), 0);
  ASSERT_NE(event, nullptr);
  *event << uint32_t{9};
  EXPECT_EQ(sal.SendSALEvent(&event, 0), 1);
  ASSERT_NE(event, nullptr);  // the reply took the request's place
  EXPECT_EQ(event->GetSize(), 4u);
  delete event;

  host.QueueSendFailure(-5);
  event = sal.CreateSALEvent(31, ZELVersion(1, 0), 0);
  EXPECT_EQ(sal.SendSALEvent(&event, 0), -5);
  EXPECT_EQ(event, nullptr);
  ASSERT_EQ(host.Sent().size(), 2u);
  const zel::rt::testing::RecordedEvent& sent = host.Sent()[0];
  EXPECT_EQ(std::make_tuple(sent.eventID, sent.srcSubsystemUID, sent.destSubsystemUID),
            std::make_tuple(30, 5, 22));
  EXPECT_EQ(sent.payload, (Bytes{9, 0, 0, 0}));

  EXPECT_EQ(sal.PostSALEvent(new ZEL_BUF_EventBuffer(95, ZELVersion(1, 0), 0)), 0);
  EXPECT_EQ(host.Posted().size(), 1u);
  EXPECT_EQ(host.Outstanding(), "");
}

TEST(ScriptedHostTest, RecordsEventsAndInjectsEveryFailureItOffers) {
  ScriptedHost host;
  ZEL_BUF_EventBuffer2* request = CreateSALEvent2(71, ZELVersion(1, 0), 8, 5, 22, 2);
  ASSERT_NE(request, nullptr);
  ASSERT_EQ(host.Created().size(), 1u);
  const zel::rt::testing::RecordedEvent& created = host.Created()[0];
  EXPECT_EQ(std::make_tuple(created.eventID, created.sizeHint, created.interfaceLevel),
            std::make_tuple(71, 8u, std::optional<uint32_t>(2)));
  EXPECT_TRUE(created.payload.empty());

  host.FailNthAppend(2, -9);
  *request << uint32_t{1};
  EXPECT_THROW(*request << uint32_t{2}, ZEL_BUF_AppendException);
  EXPECT_EQ(request->AppendData("x", 1), 0);                       // the failure happens once
  EXPECT_EQ(host.Outstanding(), "1 event(s); 2 allocation(s); ");  // the event and its storage
  delete request;

  host.FailNthCreate(1);
  EXPECT_EQ(CreateSALEvent2(71, ZELVersion(1, 0), 0, 5, 22, 2), nullptr);
  ZEL_BUF_EventBuffer* reply = nullptr;
  host.FailNthCreate(1);
  std::unique_ptr<ZEL_BUF_EventBuffer> base(new ZEL_BUF_EventBuffer(81, ZELVersion(1, 0), 0));
  EXPECT_EQ(base->CreateReplyEvent(&reply, 81, ZELVersion(1, 0), 22, 0), zel::rt::kNoMemory);
  EXPECT_EQ(reply, nullptr);
  base.reset();

  // Without a script a send fails clearly; a responder answers from the request it sees.
  EXPECT_EQ(SendSALEvent2(CreateSALEvent2(1, ZELVersion(1, 0), 0, 5, 22, 1), &reply, host, 0),
            zel::rt::kNoReply);
  host.SetResponder([](const zel::rt::testing::RecordedEvent& sent, Bytes* out) {
    *out = Bytes(sent.payload.rbegin(), sent.payload.rend());
    return int32_t{2};
  });
  ZEL_BUF_EventBuffer2* echo = CreateSALEvent2(1, ZELVersion(1, 0), 0, 5, 22, 1);
  *echo << uint16_t{0x0102};
  EXPECT_EQ(SendSALEvent2(echo, &reply, host, 0), 2);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(Bytes(reply->GetData(), reply->GetData() + reply->GetSize()), (Bytes{1, 2}));
  delete reply;

  host.SetDispatchResult(-3);
  EXPECT_EQ(host.PostEvent(new ZEL_BUF_EventBuffer(97, ZELVersion(1, 0), 0)), -3);
  host.SetDeliverResult(-4);
  EXPECT_EQ(host.DeliverEvent(new ZEL_BUF_EventBuffer(81, ZELVersion(1, 0), 0), 0xFFFFFFFF), -4);
  EXPECT_EQ(host.Delivered().size(), 1u);
  EXPECT_EQ(host.Outstanding(), "");  // posted and delivered events were released by the host
}

TEST(SlotOrderTest, VirtualOperationsSitInTheirFixedOrder) {
  if (!zel::rt::testing::kCanReadVirtualSlots) GTEST_SKIP() << "slot layout unreadable here";
  // Slots 0 and 1 are the destructor's (complete and deleting) where a class has one.
  EXPECT_EQ(VirtualSlot(&ZEL_BUF_EventBuffer::AppendData), 2);
  EXPECT_EQ(VirtualSlot(&ZEL_BUF_EventBuffer::SetSrcHostID), 3);
  EXPECT_EQ(VirtualSlot(&ZEL_BUF_EventBuffer::SetDestHostID), 4);
  EXPECT_EQ(VirtualSlot(&ZEL_BUF_EventBuffer::SetSrcSubsystemUID), 5);
  EXPECT_EQ(VirtualSlot(&ZEL_BUF_EventBuffer::SetDestSubsystemUID), 6);
  EXPECT_EQ(VirtualSlot(&ZEL_BUF_EventBuffer::GetEventID), 7);
  EXPECT_EQ(VirtualSlot(&ZEL_BUF_EventBuffer::CreateReplyEvent), 8);

  EXPECT_EQ(VirtualSlot(&ZEL_PIF_ISubSystem::DeliverEvent), 0);
  EXPECT_EQ(VirtualSlot(&ZEL_PIF_ISubSystem::GetNeighborhoodName), 1);
  EXPECT_EQ(VirtualSlot(&ZEL_PIF_ISubSystem::GetPluginApis), 2);
  EXPECT_EQ(VirtualSlot(&ZEL_PIF_ISubSystem::GetSubsystemUID), 3);

  EXPECT_EQ(VirtualSlot(&ZEL_PIF_SAL::GetTraceComponent), 2);
  EXPECT_EQ(VirtualSlot(&ZEL_PIF_SAL::GetErrorMsgType), 3);
  EXPECT_EQ(VirtualSlot(&ZEL_PIF_SAL::SendSALEvent), 4);
  EXPECT_EQ(VirtualSlot(&ZEL_PIF_SAL::PostSALEvent), 5);
  EXPECT_EQ(VirtualSlot(&ZEL_PIF_SAL::CreateSALEvent), 6);

  EXPECT_EQ(VirtualSlot(&ZelPluginApiTable::AcquireInterface), 0);
  EXPECT_EQ(VirtualSlot(&ZelPluginApiTable::ReleaseInterface), 1);
}

}  // namespace
