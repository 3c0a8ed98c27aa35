// What a user would pick instead of our transport: a D-Bus method call carrying the payloads of
// a GetPrivilege2 request and its reply, through a private dbus-daemon, with sd-bus on both ends
// (the answering end on a thread of its own, as the farm server's loop is).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "farm_bench.h"

namespace {

constexpr const char* kService = "org.zel.Bench";
constexpr const char* kPath = "/org/zel/Bench";

// A dbus-daemon of our own, listening on a socket in a temporary folder.
class PrivateBus {
 public:
  PrivateBus() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zel_dbus_XXXXXX").string();
    folder_ = ::mkdtemp(pattern.data());
    socket_ = folder_ + "/bus";
    const std::string address = "--address=unix:path=" + socket_;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
               address.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 500 && !std::filesystem::exists(socket_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~PrivateBus() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::filesystem::remove_all(folder_);
  }
  bool Up() const { return pid_ > 0 && std::filesystem::exists(socket_); }
  // A started client connection to the bus, or null.
  sd_bus* Connect() const {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return nullptr;
    const std::string address = "unix:path=" + socket_;
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
        sd_bus_start(bus) < 0) {
      sd_bus_unref(bus);
      return nullptr;
    }
    return bus;
  }

 private:
  std::string folder_, socket_;
  pid_t pid_ = -1;
};

// Answers every call of GetPrivilege2 with `reply` bytes.
int Answer(sd_bus_message* call, void* userdata, sd_bus_error* /*error*/) {
  if (sd_bus_message_is_method_call(call, kService, "GetPrivilege2") <= 0) return 0;
  const void* data = nullptr;
  std::size_t size = 0;
  if (sd_bus_message_read_array(call, 'y', &data, &size) < 0) return -EINVAL;
  const auto& reply = *static_cast<const std::vector<uint8_t>*>(userdata);
  sd_bus_message* answer = nullptr;
  int r = sd_bus_message_new_method_return(call, &answer);
  if (r >= 0) r = sd_bus_message_append_array(answer, 'y', reply.data(), reply.size());
  if (r >= 0) r = sd_bus_send(nullptr, answer, nullptr);
  sd_bus_message_unref(answer);
  return r < 0 ? r : 1;
}

void BM_DBusMethodCall_GetPrivilege2Payloads(benchmark::State& state) {
  const auto [out, back] = zel::bench::GetPrivilege2Payloads();
  PrivateBus daemon;
  if (!daemon.Up()) return state.SkipWithError("no dbus-daemon");
  std::atomic<bool> ready{false}, stop{false};
  const std::vector<uint8_t> reply(back, 1);
  std::thread server([&] {
    sd_bus* bus = daemon.Connect();
    if (bus != nullptr && sd_bus_request_name(bus, kService, 0) >= 0 &&
        sd_bus_add_object(bus, nullptr, kPath, Answer, const_cast<std::vector<uint8_t>*>(&reply)) >=
            0) {
      ready = true;
      while (!stop) {
        if (sd_bus_process(bus, nullptr) > 0) continue;
        sd_bus_wait(bus, 100'000);
      }
    }
    ready = true;
    sd_bus_flush_close_unref(bus);
  });
  while (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  sd_bus* bus = daemon.Connect();
  const std::vector<uint8_t> request(out, 2);
  bool failed = bus == nullptr;
  for (auto _ : state) {
    if (failed) break;
    sd_bus_message* call = nullptr;
    sd_bus_message* answer = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    failed = sd_bus_message_new_method_call(bus, &call, kService, kPath, kService,
                                            "GetPrivilege2") < 0 ||
             sd_bus_message_append_array(call, 'y', request.data(), request.size()) < 0 ||
             sd_bus_call(bus, call, 0, &error, &answer) < 0;
    const void* data = nullptr;
    std::size_t size = 0;
    if (!failed) failed = sd_bus_message_read_array(answer, 'y', &data, &size) < 0 || size != back;
    sd_bus_error_free(&error);
    sd_bus_message_unref(answer);
    sd_bus_message_unref(call);
  }
  if (failed) state.SkipWithError("the method call failed");
  stop = true;
  server.join();
  sd_bus_flush_close_unref(bus);
  state.counters["request bytes"] = static_cast<double>(out);
  state.counters["reply bytes"] = static_cast<double>(back);
}
BENCHMARK(BM_DBusMethodCall_GetPrivilege2Payloads)->UseRealTime();

}  // namespace
