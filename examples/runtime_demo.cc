// The runtime at work: a client subsystem writes a request event, sends it through the
// in-process farm to a responder subsystem, and decodes and prints the reply.
#include <cstdio>
#include <string>
#include <vector>

#include "zel/runtime/farm.h"
#include "zel/runtime/reader.h"

namespace {

constexpr uint16_t kClientUID = 5;
constexpr uint16_t kResponderUID = 22;
constexpr uint16_t kLookupEvent = 65;

std::string Hex(const uint8_t* bytes, uint32_t size) {
  std::string out;
  char cell[4];
  for (uint32_t i = 0; i < size; ++i) {
    std::snprintf(cell, sizeof cell, "%02x", bytes[i]);
    out += cell;
    if (i + 1 == size) break;
    out += i % 16 == 15 ? "\n      " : " ";
  }
  return out;
}

void PrintEvent(const char* title, const ZEL_BUF_EventBuffer& event) {
  std::printf("%s: event %u, version %u.%u, size hint %u, subsystem %u -> %u, %u payload bytes\n",
              title, event.GetEventID(), event.GetVersion().first, event.GetVersion().second,
              event.GetSizeHint(), event.GetSrcSubsystemUID(), event.GetDestSubsystemUID(),
              event.GetSize());
  std::printf("      %s\n", Hex(event.GetData(), event.GetSize()).c_str());
}

// The responder: reads a name and a list of numbers, answers a greeting and their sum.
int32_t Respond(const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** reply) {
  ZEL_BUF_BufferReader reader(const_cast<ZEL_BUF_EventBuffer*>(&request), 0);
  ZELString name;
  uint32_t count = 0;
  std::vector<uint32_t> values;
  try {
    reader >> name >> count;
    if (count > reader.GetRemaining() / 4) return -1;  // a count the request cannot hold
    values.resize(count);
    if (count != 0) reader.ReadData(values.data(), count * 4);
  } catch (const ZEL_BUF_ReadException&) {
    return -1;
  }
  uint64_t sum = 0;
  for (uint32_t v : values) sum += v;
  ZELString greeting(u"Hello, ");
  greeting += name;
  const int32_t created =
      request.CreateReplyEvent(reply, kLookupEvent, ZELVersion(1, 0), kResponderUID, 0);
  if (created < 0) return created;
  try {
    **reply << int32_t{0} << greeting << sum;
  } catch (const ZEL_BUF_AppendException& e) {
    delete *reply;
    *reply = nullptr;
    return e.code();
  }
  return 0;
}

}  // namespace

int main() {
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& client = farm.AddSubsystem(kClientUID);
  farm.AddSubsystem(kResponderUID).SetRequestHandler(Respond);

  const uint32_t values[] = {3, 5, 8, 13};
  const ZELString name = ZELString::FromUtf8("console-7");
  const uint32_t hint = 4 + name.getLength() + 4 + sizeof values;
  ZEL_BUF_EventBuffer2* request =
      CreateSALEvent2(kLookupEvent, ZELVersion(1, 0), hint, kClientUID, kResponderUID, 2);
  if (request == nullptr) return 1;
  try {
    *request << name << uint32_t{4};
  } catch (const ZEL_BUF_AppendException& e) {
    std::printf("request could not be written: 0x%08x\n", static_cast<unsigned>(e.code()));
    delete request;
    return 1;
  }
  if (request->AppendData(values, sizeof values) != 0) {
    delete request;
    return 1;
  }
  PrintEvent("request", *request);

  ZEL_BUF_EventBuffer* reply = nullptr;
  const int32_t sent = SendSALEvent2(request, &reply, client, 0);
  if (sent < 0) {
    std::printf("send failed: 0x%08x\n", static_cast<unsigned>(sent));
    return 1;
  }
  PrintEvent("reply  ", *reply);

  ZEL_BUF_BufferReader reader(reply, 1);
  int32_t result = 0;
  ZELString greeting;
  uint64_t sum = 0;
  try {
    reader >> result >> greeting >> sum;
  } catch (const ZEL_BUF_ReadException& e) {
    std::printf("short reply: %s\n", e.what());
    return 1;
  }
  std::printf("decoded: result %d, greeting \"%s\", sum %llu\n", result, greeting.toUtf8().c_str(),
              static_cast<unsigned long long>(sum));
  return result == 0 && sum == 29 ? 0 : 1;
}
