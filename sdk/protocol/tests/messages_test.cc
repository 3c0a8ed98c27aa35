// Every message of ours through one table: a full sample of each round-trips, every prefix of it
// is refused (or is itself a message that writes back to exactly those bytes) without keeping
// any storage, a count overwritten with a hostile value never makes the reader take more than
// the payload could fill, and the description names every field without showing a secret.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <new>
#include <set>

#include "samples.h"
#include "zel/protocol/messages.h"

// Counts what the process takes from the global allocator, so a test can see what a decode
// takes and gives back. Not on Windows: there a program's replacement does not reach the DLLs
// (no symbol interposition), so blocks would be taken by one allocator and given back to the
// other; the counts stay 0 and the tests check only what they decode.
namespace {
std::size_t g_liveBytes = 0;
std::size_t g_largestBlock = 0;
}  // namespace

#if !defined(_WIN32)

void* operator new(std::size_t size) {
  auto* block = static_cast<std::size_t*>(std::malloc(size + sizeof(std::max_align_t)));
  if (block == nullptr) throw std::bad_alloc();
  *block = size;
  g_liveBytes += size;
  g_largestBlock = std::max(g_largestBlock, size);
  return reinterpret_cast<char*>(block) + sizeof(std::max_align_t);
}
void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  // The header sits before the block handed out. Reached through the integer address, so that
  // the optimiser does not take it for a read before the start of the caller's object.
  auto header = reinterpret_cast<std::uintptr_t>(block) - sizeof(std::max_align_t);
  auto* start = reinterpret_cast<std::size_t*>(header);
  g_liveBytes -= *start;
  std::free(start);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
#endif

namespace zel::protocol {
namespace {

using samples::Bytes;
using samples::EncodeBytes;

// Decodes `bytes` whole as M and writes it back; throws what the reader throws.
template <class M>
Bytes ReadAndWriteBack(const Bytes& bytes, uint32_t* remaining) {
  ZEL_BUF_BufferReader in(bytes.data(), static_cast<uint32_t>(bytes.size()));
  M message{};
  Decode(in, message);
  *remaining = in.GetRemaining();
  return EncodeBytes(message);
}

// The names of the fields that must be blank in each message that carries a secret.
const std::map<std::pair<uint16_t, Direction>, std::set<std::string>> kSecretFields = {
    {{event::kSetCredential, Direction::kRequest}, {"oldPassword", "newPassword"}},
    {{event::kIssueTicket, Direction::kReply}, {"ticket"}},
    {{event::kExportCredentials, Direction::kReply}, {"hash"}},
    {{event::kImportCredentials, Direction::kRequest}, {"hash"}},
};

template <class Message>
std::string RowName() {
  return std::to_string(Message::kEventID) + " " + DirectionName(Message::kDirection);
}

TEST(MessagesTest, EverySampleRoundTrips) {
  ForEachMessageOfOurs([](auto message) {
    using M = typename decltype(message)::Type;
    for (const M& sample : samples::Of<M>()) {
      const Bytes bytes = EncodeBytes(sample);
      uint32_t remaining = 0;
      EXPECT_EQ(ReadAndWriteBack<M>(bytes, &remaining), bytes) << RowName<decltype(message)>();
      EXPECT_EQ(EncodedSize(sample), bytes.size()) << RowName<decltype(message)>();
      EXPECT_EQ(remaining, 0u) << RowName<decltype(message)>();
    }
  });
}

TEST(MessagesTest, EveryPrefixIsRefusedAndKeepsNothing) {
  ForEachMessageOfOurs([](auto message) {
    using M = typename decltype(message)::Type;
    for (const M& sample : samples::Of<M>()) {
      const Bytes bytes = EncodeBytes(sample);
      for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        const std::size_t live = g_liveBytes;
        uint32_t remaining = 0;
        try {
          const Bytes again = ReadAndWriteBack<M>(prefix, &remaining);
          // Only a message whose last fields are left out may end early, and then it is a
          // message of its own.
          EXPECT_EQ(again, prefix) << RowName<decltype(message)>() << " cut at " << cut;
        } catch (const ZEL_BUF_ReadException&) {
        }
        EXPECT_EQ(g_liveBytes, live) << RowName<decltype(message)>() << " cut at " << cut;
      }
    }
  });
}

TEST(MessagesTest, HostileCountsTakeNoMoreThanThePayloadCouldFill) {
  ForEachMessageOfOurs([](auto message) {
    using M = typename decltype(message)::Type;
    for (const M& sample : samples::Of<M>()) {
      const Bytes bytes = EncodeBytes(sample);
      for (const uint32_t hostile : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x10000000u}) {
        for (std::size_t at = 0; at + 4 <= bytes.size(); ++at) {
          Bytes patched = bytes;
          for (int i = 0; i < 4; ++i) patched[at + i] = static_cast<uint8_t>(hostile >> (8 * i));
          g_largestBlock = 0;
          uint32_t remaining = 0;
          try {
            ReadAndWriteBack<M>(patched, &remaining);
          } catch (const ZEL_BUF_ReadException&) {
          } catch (const ZEL_BUF_AppendException&) {
          }
          // A record in memory is a few times its least wire size; never a count's worth.
          EXPECT_LE(g_largestBlock, 64 * bytes.size() + 1024)
              << RowName<decltype(message)>() << " count " << hostile << " at " << at;
        }
      }
    }
  });
}

TEST(MessagesTest, DescriptionNamesEveryFieldAndShowsNoSecret) {
  ForEachMessageOfOurs([](auto message) {
    using Message = decltype(message);
    using M = typename Message::Type;
    std::set<std::string> secretNames;  // over every sample of the message
    for (const M& sample : samples::Of<M>()) {
      const Bytes bytes = EncodeBytes(sample);
      EventDescription description;
      ASSERT_TRUE(DescribeEventOfOurs(Message::kEventID, Message::kDirection, bytes.data(),
                                      static_cast<uint32_t>(bytes.size()), description));
      EXPECT_TRUE(description.parsed) << RowName<Message>();
      EXPECT_EQ(description.trailing, 0u) << RowName<Message>();
      EXPECT_EQ(description.direction, DirectionName(Message::kDirection));
      std::set<std::string> names;
      for (const Field& field : description.fields) {
        EXPECT_FALSE(field.name.empty()) << RowName<Message>();
        EXPECT_TRUE(names.insert(field.name).second) << RowName<Message>() << " " << field.name;
        if (field.secret) {
          EXPECT_EQ(field.value, "") << RowName<Message>() << " " << field.name;
          const std::size_t dot = field.name.rfind('.');
          secretNames.insert(dot == std::string::npos ? field.name : field.name.substr(dot + 1));
        }
      }
      const std::string text = description.Text();
      for (const std::string& secret : samples::kSecretMarkers) {
        EXPECT_EQ(text.find(secret), std::string::npos) << RowName<Message>() << "\n" << text;
      }
    }
    const auto secrets = kSecretFields.find({Message::kEventID, Message::kDirection});
    EXPECT_EQ(secretNames,
              secrets == kSecretFields.end() ? std::set<std::string>{} : secrets->second)
        << RowName<Message>();
  });
}

TEST(MessagesTest, EveryMessageIsNamedInTheEventTable) {
  ForEachMessageOfOurs([](auto message) {
    const EventInfo* info = FindEvent(decltype(message)::kEventID);
    ASSERT_NE(info, nullptr) << decltype(message)::kEventID;
    EXPECT_GE(info->id, event::kFirstOfOurs);
  });
  // ... and every event of ours in the table has its request (or notification) described.
  for (const EventInfo& info : AllEvents()) {
    if (info.id < event::kFirstOfOurs) continue;
    const Direction way =
        info.kind == EventKind::kOneWay ? Direction::kNotification : Direction::kRequest;
    EventDescription description;
    EXPECT_TRUE(DescribeEventOfOurs(info.id, way, nullptr, 0, description)) << info.name;
    EXPECT_EQ(description.eventName, info.name);
  }
  EXPECT_EQ(ReplyEventID(event::kEnumerateGroup), event::kTreeOperation);
  EXPECT_EQ(ReplyEventID(event::kEnumerateGroupWithCredentials), event::kTreeOperation);
  EXPECT_EQ(ReplyEventID(event::kDirSearch), event::kDirSearch);
  EventDescription untouched;
  untouched.eventName = "kept";
  const uint8_t payload[4] = {};
  EXPECT_FALSE(
      DescribeEventOfOurs(event::kGetPrivilege2, Direction::kRequest, payload, 4, untouched));
  EXPECT_EQ(untouched.eventName, "kept");
}

}  // namespace
}  // namespace zel::protocol
