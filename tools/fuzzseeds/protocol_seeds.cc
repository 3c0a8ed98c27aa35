// Seeds of fuzz_protocol: one file per message of ours, its selector byte first. Each message is
// written once as it is when default-constructed (every count 0) and, for a few, filled.
#include <filesystem>
#include <fstream>
#include <string>
#include <type_traits>

#include "zel/protocol/messages.h"

namespace zel::fuzzseeds {
namespace {

template <class M>
void SaveMessage(const std::filesystem::path& folder, const std::string& name, uint8_t selector,
                 const M& message) {
  ZEL_BUF_BinBuffer out;
  protocol::Encode(message, out);
  std::filesystem::create_directories(folder);
  std::ofstream file(folder / name, std::ios::binary);
  file.put(static_cast<char>(selector));
  file.write(reinterpret_cast<const char*>(out.GetData()), out.GetSize());
}

}  // namespace

void WriteProtocolSeeds(const std::filesystem::path& root) {
  const std::filesystem::path folder = root / "fuzz_protocol";
  uint8_t selector = 0;
  protocol::ForEachMessageOfOurs([&](auto message) {
    using Message = decltype(message);
    const std::string name = std::to_string(Message::kEventID) + "-" +
                             protocol::DirectionName(Message::kDirection) + "-" +
                             std::to_string(selector);
    SaveMessage(folder, name, selector, typename Message::Type{});
    // Filled forms of the richer records, under the selector of the same message.
    if constexpr (std::is_same_v<typename Message::Type, protocol::MoveFolderMembersRequest>) {
      SaveMessage(folder, name + "-filled", selector,
                  protocol::MoveFolderMembersRequest{{1, 2}, 5, 6});
    }
    if constexpr (std::is_same_v<typename Message::Type, protocol::DirSearchReply>) {
      protocol::DirAttribute title{ZELString(u"ATTRIBUTE-AdminTitle"),
                                   {{ZELString(u"css"), 7, {'T', 0}}}};
      protocol::DirEntry entry{5, 3, ZELString(u"Objects/A"), ZELString(u"CLASS-X"), {title}};
      SaveMessage(folder, name + "-filled", selector, protocol::DirSearchReply{0, {entry}, {1}});
    }
    if constexpr (std::is_same_v<typename Message::Type, protocol::SetCredentialRequest>) {
      SaveMessage(folder, name + "-filled", selector,
                  protocol::SetCredentialRequest{2, protocol::SecretBytes("old"),
                                                 protocol::SecretBytes("n\xC3\xA9w")});
    }
    ++selector;
  });
}

}  // namespace zel::fuzzseeds
