// The node operations' notifications, byte for byte, and what each failure leaves.
#include <gtest/gtest.h>

#include "test_support.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::rt::testing::Bytes;
using zel::rt::testing::RecordedEvent;
using zel::rt::testing::Write;
using zel::sal::testing::SalTest;
using zel::sal::testing::TraceCapture;

Bytes WireOf(ZEL_AdminToolObject& node) {
  return Write([&](ZEL_BUF_BinBuffer& out) {
    ZEL_BUF_EventBuffer event(0, ZELVersion(1, 0), 0);
    node.write(event);
    out.AppendBytes(event.GetData(), event.GetSize());
  });
}

Bytes Containers(const std::vector<ZELString>& dns) {
  return Write([&](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0} << static_cast<int16_t>(dns.size()) << int16_t{3};
    for (const ZELString& dn : dns) out << dn;
  });
}

class NodeOperationsTest : public SalTest {
 protected:
  NodeOperationsTest() {
    node_.setUID(42);
    other_.setUID(43);
    TraceCapture().records.clear();
  }
  static void ExpectNotificationHeader(const RecordedEvent& event, uint16_t id, uint32_t hint) {
    EXPECT_EQ(event.eventID, id);
    EXPECT_EQ(event.version, ZELVersion(1, 0));
    EXPECT_EQ(event.sizeHint, hint);
    EXPECT_EQ(event.srcSubsystemUID, 22);
    EXPECT_EQ(event.destSubsystemUID, 1);
    EXPECT_EQ(event.srcHostID, 0x80000001u);
    EXPECT_EQ(event.destHostID, 0x80000003u);
  }

  ZEL_AdminToolSAL sal_{host_};
  ZELString parent_{u"Root/Servers"};
  ZEL_AdminToolObject node_{u"Root/Servers", u"web01"};
  ZEL_AdminToolObject other_{u"Root/Servers", u"web02"};
};

TEST_F(NodeOperationsTest, AddNodePostsTheAdditionThenTheContainer) {
  ASSERT_EQ(sal_.AddNode(parent_, node_), 0);
  ASSERT_EQ(host_.Posted().size(), 2u);
  const uint32_t p = 4 + parent_.getLength();
  ExpectNotificationHeader(host_.Posted()[0], 81, node_.objectSize() + p + 6);
  Bytes expected = Write([&](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0} << int16_t{1} << int16_t{1} << parent_ << int16_t{1};
  });
  const Bytes wire = WireOf(node_);
  expected.insert(expected.end(), wire.begin(), wire.end());
  EXPECT_EQ(host_.Posted()[0].payload, expected);
  ExpectNotificationHeader(host_.Posted()[1], 95, p + 6);
  EXPECT_EQ(host_.Posted()[1].payload, Containers({parent_}));
  const auto traced = Traced(zel::trace::kNodeAdded);
  ASSERT_EQ(traced.size(), 1u);
  const std::u16string dn = node_.getDN();
  EXPECT_EQ(traced[0].arguments[0],
            Bytes(reinterpret_cast<const uint8_t*>(dn.c_str()),
                  reinterpret_cast<const uint8_t*>(dn.c_str()) + 2 * (dn.size() + 1)));
}

TEST_F(NodeOperationsTest, EachOperationWritesItsSections) {
  ZEL_AdminToolObject nodes[2] = {ZEL_AdminToolObject(u"a"), ZEL_AdminToolObject(u"b")};
  ASSERT_EQ(sal_.AddNodes(parent_, nodes, 2), 0);
  Bytes expected = Write([&](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0} << int16_t{1} << int16_t{1} << parent_ << int16_t{2};
  });
  for (auto& n : nodes) {
    const Bytes wire = WireOf(n);
    expected.insert(expected.end(), wire.begin(), wire.end());
  }
  EXPECT_EQ(host_.Posted()[0].payload, expected);

  ZELString name(u"web01");
  ASSERT_EQ(sal_.DeleteNode(parent_, name), 0);
  EXPECT_EQ(host_.Posted()[2].payload, Write([&](ZEL_BUF_BinBuffer& out) {
              out << int32_t{0} << int16_t{1} << int16_t{2} << parent_ << int16_t{1} << name;
            }));

  ZELString knownAs(u"old-name");  // the node itself already carries its new name
  ASSERT_EQ(sal_.ChangeNodeAttr(parent_, knownAs, node_), 0);
  expected = Write([&](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0} << int16_t{1} << int16_t{3} << parent_ << int16_t{1} << knownAs;
  });
  const Bytes wire = WireOf(node_);
  expected.insert(expected.end(), wire.begin(), wire.end());
  EXPECT_EQ(host_.Posted()[4].payload, expected);

  ZELString destination(u"Root/Archive");
  ZEL_AdminToolObject moved[2] = {ZEL_AdminToolObject(u"x"), ZEL_AdminToolObject(u"y")};
  ASSERT_EQ(sal_.MoveNodes(parent_, destination, 2, moved), 0);
  expected = Write([&](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0} << int16_t{2} << int16_t{2} << parent_ << int16_t{2} << u"x" << u"y"
        << int16_t{1} << destination << int16_t{2};
  });
  for (auto& n : moved) {
    const Bytes w = WireOf(n);
    expected.insert(expected.end(), w.begin(), w.end());
  }
  EXPECT_EQ(host_.Posted()[6].payload, expected);
  EXPECT_EQ(host_.Posted()[7].payload, Containers({parent_, destination}));
  ASSERT_EQ(Traced(zel::trace::kNodesMoved).size(), 1u);
  EXPECT_EQ(Traced(zel::trace::kNodesMoved)[0].arguments.size(), 2u);

  // Nothing to announce: nothing sent.
  EXPECT_EQ(sal_.AddNodes(parent_, nodes, 0), 0);
  EXPECT_EQ(sal_.MoveNodes(parent_, destination, 0, moved), 0);
  EXPECT_EQ(sal_.MoveNodes(parent_, destination, 2, nullptr), 0);
  EXPECT_EQ(host_.Posted().size(), 8u);
}

TEST_F(NodeOperationsTest, ARejectedOrUnwritableNotificationEndsTheOperation) {
  host_.SetDispatchResult(-6);
  EXPECT_EQ(sal_.AddNode(parent_, node_), -6);
  EXPECT_EQ(host_.Posted().size(), 1u);  // event 95 is not sent after event 81 was rejected
  host_.SetDispatchResult(0);

  host_.FailNthAppend(3);
  EXPECT_EQ(sal_.AddNode(parent_, node_), ZEL_E_WRITE_FAILED);
  EXPECT_EQ(host_.Posted().size(), 1u);
  host_.FailNthAppend(9);  // event 81 takes the first appends; this one falls in event 95
  ZELString name(u"n");
  EXPECT_EQ(sal_.DeleteNode(parent_, name), ZEL_E_WRITE_FAILED);
  EXPECT_EQ(host_.Posted().size(), 2u);  // event 81 stays sent

  // An event that cannot be built is skipped and the operation goes on.
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(sal_.DeleteNode(parent_, name), 0);
  ASSERT_EQ(host_.Posted().size(), 3u);
  EXPECT_EQ(host_.Posted()[2].eventID, 95);
}

}  // namespace
