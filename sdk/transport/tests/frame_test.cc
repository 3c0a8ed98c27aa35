// Frames against bytes written out by hand from the grammar, bodies that must be refused, the
// assembler on split and hostile streams, and addresses.
#include <gtest/gtest.h>

#include <functional>

#include "zel/runtime/codes.h"
#include "zel/transport/address.h"
#include "zel/transport/frame.h"

namespace zel::transport {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(std::string text) {
  std::erase(text, ' ');
  Bytes out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

Bytes Of(const EncodedFrame& frame) {
  return Bytes(frame->GetData(), frame->GetData() + frame->GetSize());
}

// Event 7001, version 1.0, hosts 0, from UID 0x30 to 0x28, level 4, payload AA BB.
std::unique_ptr<ZEL_BUF_EventBuffer2> SampleEvent() {
  auto event = std::make_unique<ZEL_BUF_EventBuffer2>(7001, ZELVersion(1, 0), 0, 4);
  event->SetSrcSubsystemUID(0x30);
  event->SetDestSubsystemUID(0x28);
  const uint8_t payload[] = {0xAA, 0xBB};
  event->AppendData(payload, 2);
  return event;
}
const char* const kSampleEvent = "591B 01 00 00000000 00000000 3000 2800 04000000 02000000 AABB";

TEST(FrameTest, EncodersWriteTheGrammar) {
  const auto sample = SampleEvent();
  const ZEL_BUF_EventBuffer2& event = *sample;
  struct Case {
    const char* name;
    std::function<EncodedFrame(int32_t*)> encode;
    std::string hex;
  };
  const std::vector<Case> cases = {
      {"hello", [](int32_t* c) { return EncodeHello(1, 0, 0, "", c); },
       "11000000 01 5A454C46 0100 0000 00000000 00000000"},
      {"hello refused", [](int32_t* c) { return EncodeHello(2, 3, -1, "no", c); },
       "13000000 01 5A454C46 0200 0300 FFFFFFFF 02000000 6E6F"},
      {"request", [&](int32_t* c) { return EncodeRequest(0x0102030405060708, event, c); },
       std::string("23000000 02 0807060504030201 ") + kSampleEvent},
      {"reply with event", [&](int32_t* c) { return EncodeReply(9, 0, &event, c); },
       std::string("28000000 03 0900000000000000 00000000 01 ") + kSampleEvent},
      {"reply without event", [](int32_t* c) { return EncodeReply(5, -1, nullptr, c); },
       "0E000000 03 0500000000000000 FFFFFFFF 00"},
      {"post", [&](int32_t* c) { return EncodePost(event, c); },
       std::string("1B000000 04 ") + kSampleEvent},
      {"subscribe", [](int32_t* c) { return EncodeSubscribe(1, 2, false, {7100}, c); },
       "16000000 05 0100000000000000 02000000 00 01000000 BC1B0000"},
      {"unsubscribe", [](int32_t* c) { return EncodeUnsubscribe(3, 2, c); },
       "0D000000 06 0300000000000000 02000000"},
      {"notify", [&](int32_t* c) { return EncodeNotify(7, event, c); },
       std::string("1F000000 07 07000000 ") + kSampleEvent},
      {"refusal", [](int32_t* c) { return EncodeRefusal(zel::rt::kRefused, "no", c); },
       "0B000000 08 0C000180 02000000 6E6F"},
      {"monitored",
       [&](int32_t* c) {
         return EncodeMonitored(7, MonitoredFrom{Flow::kReply, 3, 5, 9, -1, "ab"}, event, c);
       },
       std::string("3E000000 09 07000000 02 03000000 0500000000000000 0900000000000000 FFFFFFFF "
                   "02000000 6162 ") +
           kSampleEvent},
  };
  for (const Case& c : cases) {
    int32_t code = -1;
    const EncodedFrame frame = c.encode(&code);
    ASSERT_TRUE(frame) << c.name;
    EXPECT_EQ(code, 0) << c.name;
    EXPECT_EQ(Of(frame), Hex(c.hex)) << c.name;
  }
}

// Bodies written out by hand (no length prefix) read back field by field.
TEST(FrameTest, DecoderReadsTheGrammar) {
  const Bytes request = Hex(std::string("02 4D00000000000000 ") + kSampleEvent);
  Frame frame;
  ASSERT_EQ(DecodeFrame(request.data(), static_cast<uint32_t>(request.size()), &frame), 0);
  EXPECT_EQ(frame.kind, FrameKind::kRequest);
  EXPECT_EQ(frame.requestID, 77u);
  ASSERT_TRUE(frame.event);
  EXPECT_EQ(frame.event->GetEventID(), 7001);
  EXPECT_EQ(frame.event->GetSrcSubsystemUID(), 0x30);
  EXPECT_EQ(frame.event->GetDestSubsystemUID(), 0x28);
  EXPECT_EQ(frame.event->GetInterfaceLevel(), 4u);
  EXPECT_EQ(Bytes(frame.event->GetData(), frame.event->GetData() + frame.event->GetSize()),
            Hex("AABB"));
  const Bytes subscribe = Hex("05 0400000000000000 09000000 01 02000000 01000000 FFFF0000");
  Frame asked;
  ASSERT_EQ(DecodeFrame(subscribe.data(), static_cast<uint32_t>(subscribe.size()), &asked), 0);
  EXPECT_EQ(asked.kind, FrameKind::kSubscribe);
  EXPECT_TRUE(asked.monitor);
  EXPECT_EQ(asked.subscription, 9u);
  EXPECT_EQ(asked.eventIDs, (std::vector<uint32_t>{1, 0xFFFF}));
}

TEST(FrameTest, MalformedBodiesAreRefused) {
  const std::string event = kSampleEvent;
  struct Case {
    const char* name;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"unknown kind 0", "00"},
      {"unknown kind 10", "0A 00000000"},
      {"monitored cut short", "09 00000000"},
      {"monitored flow 6",
       std::string("09 07000000 06 00000000 0000000000000000 0000000000000000 00000000 00000000 ") +
           event},
      {"hello cut short", "01 5A454C46 0100"},
      {"hello with bytes after it", "01 5A454C46 0100 0000 00000000 00000000 FF"},
      {"hello whose message count lies", "01 5A454C46 0100 0000 00000000 FFFFFF7F 6E6F"},
      {"payload count larger than the rest",
       "04 591B 01 00 00000000 00000000 3000 2800 04000000 03000000 AABB"},
      {"payload count smaller than the rest",
       "04 591B 01 00 00000000 00000000 3000 2800 04000000 01000000 AABB"},
      {"event head cut short", "02 0100000000000000 591B 0100"},
      {"reply hasEvent 2", "03 0500000000000000 00000000 02"},
      {"reply promising an event it lacks", "03 0500000000000000 00000000 01"},
      {"subscribe monitor 2", "05 0100000000000000 02000000 02 00000000"},
      {"subscribe event ID past 16 bits", "05 0100000000000000 02000000 00 01000000 00000100"},
      {"subscribe count that cannot fit", "05 0100000000000000 02000000 00 FFFFFF3F 01000000"},
      {"refusal cut short", "08 0C00"},
  };
  for (const Case& c : cases) {
    const Bytes body = Hex(c.body);
    Frame frame;
    EXPECT_EQ(DecodeFrame(body.data(), static_cast<uint32_t>(body.size()), &frame),
              zel::rt::kInvalidArgument)
        << c.name;
  }
}

TEST(FrameTest, PayloadPastTheEventMaximumIsNotSent) {
  ZEL_BUF_EventBuffer big(1, ZELVersion(1, 0), 0);
  big.SetMaxSize(zel::protocol::kMaxPayload + 1);
  const Bytes payload(zel::protocol::kMaxPayload + 1, 0x5A);
  ASSERT_EQ(big.AppendData(payload.data(), static_cast<uint32_t>(payload.size())), 0);
  int32_t code = 0;
  EXPECT_FALSE(EncodePost(big, &code));
  EXPECT_EQ(code, zel::rt::kEventTooLarge);
}

// Feeds `stream` to an assembler in pieces of `piece` bytes; the states seen and the bodies.
struct Fed {
  std::vector<Bytes> bodies;
  FrameAssembler::State last = FrameAssembler::State::kNeedMore;
};
Fed Feed(const Bytes& stream, std::size_t piece) {
  FrameAssembler assembler;
  Fed fed;
  for (std::size_t at = 0; at < stream.size();) {
    uint32_t room = 0;
    uint8_t* into = assembler.WritePointer(64, &room);
    const std::size_t count = std::min<std::size_t>({piece, room, stream.size() - at});
    std::copy(stream.begin() + at, stream.begin() + at + count, into);
    assembler.Commit(static_cast<uint32_t>(count));
    at += count;
    for (;;) {
      const uint8_t* body = nullptr;
      uint32_t size = 0;
      fed.last = assembler.Next(&body, &size);
      if (fed.last != FrameAssembler::State::kFrameReady) break;
      fed.bodies.emplace_back(body, body + size);
    }
    if (fed.last == FrameAssembler::State::kTooLong || fed.last == FrameAssembler::State::kEmpty) {
      break;
    }
  }
  return fed;
}

TEST(FrameTest, AssemblerCutsStreamsIntoBodies) {
  const Bytes two = Hex("02000000 AABB 03000000 010203");
  const Bytes large = [] {
    Bytes stream = Hex("10270000");  // 10,000 bytes
    stream.resize(4 + 10000, 0x42);
    return stream;
  }();
  struct Case {
    const char* name;
    Bytes stream;
    std::size_t piece;
    std::size_t bodies;
    FrameAssembler::State last;
  };
  const uint32_t tooLong = kMaxFrameBody + 1;
  const Bytes overLong = {static_cast<uint8_t>(tooLong), static_cast<uint8_t>(tooLong >> 8),
                          static_cast<uint8_t>(tooLong >> 16), static_cast<uint8_t>(tooLong >> 24)};
  const std::vector<Case> cases = {
      {"two frames at once", two, 100, 2, FrameAssembler::State::kNeedMore},
      {"two frames a byte at a time", two, 1, 2, FrameAssembler::State::kNeedMore},
      {"a large frame in small reads", large, 7, 1, FrameAssembler::State::kNeedMore},
      {"half a frame", Hex("05000000 0102"), 100, 0, FrameAssembler::State::kNeedMore},
      {"length past the maximum", overLong, 100, 0, FrameAssembler::State::kTooLong},
      {"empty frame", Hex("00000000 01"), 100, 0, FrameAssembler::State::kEmpty},
  };
  for (const Case& c : cases) {
    const Fed fed = Feed(c.stream, c.piece);
    EXPECT_EQ(fed.bodies.size(), c.bodies) << c.name;
    EXPECT_EQ(fed.last, c.last) << c.name;
  }
  EXPECT_EQ(Feed(two, 1).bodies.at(1), Hex("010203"));
  EXPECT_EQ(Feed(large, 7).bodies.at(0), Bytes(10000, 0x42));
}

TEST(AddressTest, ParsesEachKindAndRefusesTheRest) {
  struct Case {
    const char* text;
    bool ok;
    Address::Kind kind;
    const char* hostOrPath;
    uint16_t port;
  };
  const std::vector<Case> cases = {
      {"unix:/run/zelfarmd/zelfarmd.sock", true, Address::Kind::kUnix,
       "/run/zelfarmd/zelfarmd.sock", 0},
      {"tls:farm.north.example:7400", true, Address::Kind::kTls, "farm.north.example", 7400},
      {"tcp:127.0.0.1:0", true, Address::Kind::kTcp, "127.0.0.1", 0},
      {"tls:[::1]:7400", true, Address::Kind::kTls, "::1", 7400},
      {"tls:::1:7400", false, Address::Kind::kTls, "", 0},
      {"tls:[::1]7400", false, Address::Kind::kTls, "", 0},
      {"tls:host:65536", false, Address::Kind::kTls, "", 0},
      {"tls:host:", false, Address::Kind::kTls, "", 0},
      {"tls::7400", false, Address::Kind::kTls, "", 0},
      {"tcp:host:74x", false, Address::Kind::kTcp, "", 0},
      {"unix:", false, Address::Kind::kUnix, "", 0},
      {"http://farm", false, Address::Kind::kUnix, "", 0},
  };
  for (const Case& c : cases) {
    Address address;
    std::string error;
    const int32_t code = ParseAddress(c.text, &address, &error);
    EXPECT_EQ(code == 0, c.ok) << c.text << ": " << error;
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(address.kind, c.kind) << c.text;
    EXPECT_EQ(c.kind == Address::Kind::kUnix ? address.path : address.host, c.hostOrPath);
    EXPECT_EQ(address.port, c.port) << c.text;
    EXPECT_EQ(address.Text(), c.text);
  }
  Address longPath;
  std::string error;
  EXPECT_NE(ParseAddress("unix:/" + std::string(107, 'a'), &longPath, &error), 0);
}

}  // namespace
}  // namespace zel::transport
