// A program outside the tree, built against an installed ZelAdminSal: the library's checksum,
// and one request of a SAL object on the public in-process farm answered by a subsystem of its
// own; built with ZEL_CONSUMER_TRANSPORT, also a SAL object on the transport's console host
// whose farm server is not there. Exits 0 when every check holds; prints each failed one.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/admintool/zel_crc16.h"
#include "zel/runtime/farm.h"
#ifdef ZEL_CONSUMER_TRANSPORT
#include <chrono>

#include "zel/runtime/codes.h"
#include "zel/transport/client.h"
#include "zel/transport/console_host.h"
#endif

namespace {

int passed = 0;
int failures = 0;

void Check(bool holds, const char* what) {
  if (holds) {
    ++passed;
    return;
  }
  std::printf("FAILED: %s\n", what);
  ++failures;
}

// The reply of event 94 as bytes: result 0, then two strings (a 32-bit byte count with the
// terminator, UTF-16LE), all little-endian.
std::vector<uint8_t> NameReply() {
  return {0, 0, 0, 0,                                 // result
          8, 0, 0, 0, 'A', 0, 'n', 0, 'n', 0, 0, 0,   // "Ann"
          8, 0, 0, 0, 'L', 0, 'e', 0, 'e', 0, 0, 0};  // "Lee"
}

}  // namespace

int main() {
  // The check value of this checksum.
  const char* digits = "123456789";
  uint16_t crc = 0;
  Check(ZEL_CRC16(reinterpret_cast<const uint8_t*>(digits), 9, &crc) == 0, "ZEL_CRC16 answers 0");
  Check(crc == 0x87D6, "ZEL_CRC16 of 123456789 is 0x87D6");

  {
    zel::rt::InProcessFarm farm;
    zel::rt::FarmSubsystem& console = farm.AddSubsystem(0x300);
    zel::rt::FarmSubsystem& admintool = farm.AddSubsystem(22);
    std::vector<uint8_t> asked;
    admintool.SetRequestHandler(
        [&](const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** reply) {
          if (request.GetEventID() != 94) return -1;
          asked.assign(request.GetData(), request.GetData() + request.GetSize());
          const int32_t created = request.CreateReplyEvent(reply, 94, ZELVersion(1, 0), 22, 0);
          if (created < 0) return created;
          const std::vector<uint8_t> bytes = NameReply();
          return (*reply)->AppendData(bytes.data(), static_cast<uint32_t>(bytes.size()));
        });

    ZEL_AdminToolSAL6 sal(console);
    char16_t* first = nullptr;
    char16_t* second = nullptr;
    const int32_t result = sal.GetAdminNameByUID(0x0102030405060708ULL, first, second);
    Check(result == 0, "GetAdminNameByUID answers 0");
    const std::vector<uint8_t> uid = {8, 7, 6, 5, 4, 3, 2, 1};
    Check(asked == uid, "the request carries the UID, little-endian");
    Check(first != nullptr && std::u16string(first) == u"Ann", "first name read");
    Check(second != nullptr && std::u16string(second) == u"Lee", "second name read");
    sal.FreeAdminName(first, second);
    Check(first == nullptr && second == nullptr, "FreeAdminName clears both");
  }

#ifdef ZEL_CONSUMER_TRANSPORT
  {
    zel::transport::ClientOptions options;
    options.address = "unix:/nonexistent/zelfarmd.sock";
    options.timeout = std::chrono::seconds(5);
    zel::transport::Client client(options);
    zel::transport::ConsoleHost host(client, 0x301);
    ZEL_AdminToolSAL6 remote(host);
    char16_t* a = nullptr;
    char16_t* b = nullptr;
    Check(remote.GetAdminNameByUID(1, a, b) == zel::rt::kServerGone,
          "a farm server that is not there answers server gone");
  }
#endif

  std::printf("%d passed, %d failed\n", passed, failures);
  return failures == 0 ? 0 : 1;
}
