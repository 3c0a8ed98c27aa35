// Seeds of fuzz_transport_frames: one stream of every kind of frame, written by the encoders,
// read in pieces of 1, 7 and 64 bytes (the selector byte), and a greeting alone.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "zel/transport/frame.h"

namespace zel::fuzzseeds {
namespace {

void Append(std::vector<uint8_t>& stream, const transport::EncodedFrame& frame) {
  stream.insert(stream.end(), frame->GetData(), frame->GetData() + frame->GetSize());
}

void SaveStream(const std::filesystem::path& folder, const std::string& name, uint8_t selector,
                const std::vector<uint8_t>& stream) {
  std::filesystem::create_directories(folder);
  std::ofstream file(folder / name, std::ios::binary);
  file.put(static_cast<char>(selector));
  file.write(reinterpret_cast<const char*>(stream.data()),
             static_cast<std::streamsize>(stream.size()));
}

}  // namespace

void WriteTransportSeeds(const std::filesystem::path& root) {
  const std::filesystem::path folder = root / "fuzz_transport_frames";
  ZEL_BUF_EventBuffer2 event(7001, ZELVersion(1, 0), 0, 4);
  event.SetSrcSubsystemUID(0x300);
  event.SetDestSubsystemUID(22);
  event << uint32_t{7} << ZELString(u"farm");
  int32_t code = 0;
  std::vector<uint8_t> hello;
  Append(hello, transport::EncodeHello(1, 0, 0, "", &code));
  std::vector<uint8_t> every = hello;
  Append(every, transport::EncodeRequest(1, event, &code));
  Append(every, transport::EncodeReply(1, 0, &event, &code));
  Append(every, transport::EncodeReply(2, -5, nullptr, &code));
  Append(every, transport::EncodePost(event, &code));
  Append(every, transport::EncodeSubscribe(3, 1, false, {7100, 95}, &code));
  Append(every, transport::EncodeUnsubscribe(4, 1, &code));
  Append(every, transport::EncodeNotify(1, event, &code));
  Append(every, transport::EncodeRefusal(-1, "too many connections", &code));
  SaveStream(folder, "hello", 3, hello);
  SaveStream(folder, "every-kind-bytewise", 0, every);
  SaveStream(folder, "every-kind-by-7", 6, every);
  SaveStream(folder, "every-kind-by-64", 63, every);
}

}  // namespace zel::fuzzseeds
