// A request round trip through the transport over a Unix socket (console client, server, an
// echoing subsystem) beside a raw blocking ping-pong of the same byte counts over a socket pair
// and the in-process round trip through the same subsystem, all in the same run.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ping_pong.h"
#include "zel/runtime/farm.h"
#include "zel/transport/client.h"
#include "zel/transport/frame.h"
#include "zel/transport/server.h"

namespace {

constexpr uint16_t kEchoUID = 40;
constexpr uint16_t kConsoleUID = 0x300;
constexpr uint32_t kPayload = 64;

// The subsystem answers every request with its payload.
void AddEcho(zel::rt::InProcessFarm& farm) {
  farm.AddSubsystem(kEchoUID).SetRequestHandler(
      [](const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** reply) -> int32_t {
        if (request.CreateReplyEvent(reply, request.GetEventID(), ZELVersion(1, 0), kEchoUID,
                                     request.GetSize()) != 0) {
          return -1;
        }
        return (*reply)->AppendData(request.GetData(), request.GetSize());
      });
}

ZEL_BUF_EventBuffer* Request() {
  static const std::vector<uint8_t> payload(kPayload, 0x5A);
  auto* request = new ZEL_BUF_EventBuffer2(7001, ZELVersion(1, 0), kPayload, 4);
  request->SetSrcSubsystemUID(kConsoleUID);
  request->SetDestSubsystemUID(kEchoUID);
  request->AppendData(payload.data(), kPayload);
  return request;
}

// The frames' sizes for this request and its reply, as they cross the socket.
std::pair<std::size_t, std::size_t> FrameSizes() {
  std::unique_ptr<ZEL_BUF_EventBuffer> request(Request());
  int32_t code = 0;
  const auto asked = zel::transport::EncodeRequest(1, *request, &code);
  const auto answered = zel::transport::EncodeReply(1, 0, request.get(), &code);
  return {asked->GetSize(), answered->GetSize()};
}

void BM_TransportRoundTrip_Unix(benchmark::State& state) {
  const std::string folder =
      std::filesystem::temp_directory_path() / ("zel_bench_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  zel::rt::InProcessFarm farm;
  AddEcho(farm);
  zel::transport::ServerOptions options;
  options.listen = {"unix:" + folder + "/farm.sock"};
  zel::transport::Server server(farm, options);
  std::string error;
  if (server.Start(&error) != 0) {
    state.SkipWithError(error.c_str());
    return;
  }
  zel::transport::ClientOptions clientOptions;
  clientOptions.address = options.listen[0];
  clientOptions.offerDispatcher = false;
  zel::transport::Client client(clientOptions);
  client.Connect();
  for (auto _ : state) {
    ZEL_BUF_EventBuffer* reply = nullptr;
    if (client.Send(Request(), &reply) < 0) {
      state.SkipWithError("the round trip failed");
      break;
    }
    delete reply;
  }
  server.Stop();
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_TransportRoundTrip_Unix)->UseRealTime();

// The baseline: the same bytes each way over a socket pair, a thread answering, blocking reads.
void BM_RawPingPong_SocketPair(benchmark::State& state) {
  const auto [out, back] = FrameSizes();
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
    state.SkipWithError("no socket pair");
    return;
  }
  zel::bench::PingPong pair(ends[0], ends[1], out, back);
  for (auto _ : state) pair.RoundTrip();
}
BENCHMARK(BM_RawPingPong_SocketPair)->UseRealTime();

// What the subsystem costs without any transport.
void BM_InProcessRoundTrip(benchmark::State& state) {
  zel::rt::InProcessFarm farm;
  AddEcho(farm);
  for (auto _ : state) {
    ZEL_BUF_EventBuffer* reply = nullptr;
    farm.Send(Request(), &reply);
    delete reply;
  }
}
BENCHMARK(BM_InProcessRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
