// Any bytes as a control file: the decoder every device checks a file with accepts only a whole
// control file, and the tool's writer rewrites only a file the reader accepts. An odd first byte
// takes the bytes through a real file (ReadControlFile, then WriteControlFile over it).
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_support.h"
#include "zel/tracedev/files.h"

namespace {

bool SameSettings(const zel::trace::ControlSettings& a, const zel::trace::ControlSettings& b) {
  return a.component == b.component && a.tracePath == b.tracePath && a.logger == b.logger &&
         a.flags == b.flags && a.level == b.level;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zel::fuzz::Input input(data, size);
  zel::trace::ControlSettings settings;
  const bool accepted =
      zel::trace::DecodeControlFile(input.bytes.data(), input.bytes.size(), &settings).empty();
  if (accepted) {
    ZEL_FUZZ_CHECK(input.bytes.size() == zel::trace::kControlFileBytes);
    zel::trace::ControlFile file;
    std::memcpy(&file, input.bytes.data(), sizeof file);
    ZEL_FUZZ_CHECK(zel::trace::HoldsControlFile(file));
    // What was read encodes (the names fit) and reads back the same.
    zel::trace::ControlFile encoded;
    ZEL_FUZZ_CHECK(zel::trace::EncodeControlFile(settings, &encoded).empty());
    zel::trace::ControlSettings again;
    ZEL_FUZZ_CHECK(zel::trace::DecodeControlFile(reinterpret_cast<const uint8_t*>(&encoded),
                                                 sizeof encoded, &again)
                       .empty());
    ZEL_FUZZ_CHECK(SameSettings(settings, again));
  }
  if (input.selector % 2 == 0) return 0;

  static const std::string path = "/tmp/fuzz_control_file." + std::to_string(::getpid());
  ::unlink(path.c_str());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(input.bytes.data()),
             static_cast<std::streamsize>(input.bytes.size()));
  zel::trace::ControlSettings read;
  ZEL_FUZZ_CHECK(zel::trace::ReadControlFile(path, &read).empty() == accepted);
  if (accepted) ZEL_FUZZ_CHECK(SameSettings(settings, read));
  zel::trace::ControlSettings change{u"C", "/dev/null", 1, 2, 3};
  const bool written = zel::trace::WriteControlFile(path, change).empty();
  ZEL_FUZZ_CHECK(written == accepted);
  if (written) {
    ZEL_FUZZ_CHECK(zel::trace::ReadControlFile(path, &read).empty() && SameSettings(change, read));
  } else {
    ZEL_FUZZ_CHECK(FileBytes(path) == input.bytes);  // refused: left exactly as it was
  }
  ::unlink(path.c_str());
  return 0;
}
