// The system's programs as processes of a test (zelfarmd, zeladmin, whatever starts them), and
// raw requests of ours to a farm server through a console client. zelfarmd's and zeladmin's
// tests share it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zel/protocol/events.h"
#include "zel/protocol/grammar.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/testing/portable.h"
#include "zel/transport/client.h"

namespace zel::farm::testing {

using namespace std::chrono_literals;

// A folder that lives as long as the object.
struct TempFolder : zel::rt::testing::TempFolder {
  TempFolder() : zel::rt::testing::TempFolder("zelfarm") {}
};

// A program in a process of its own: argv[0] is its path. Standard input is /dev/null, standard
// output is appended to `out`, errors to `err` (to `out` as well when empty). Killed (kill -9)
// when it still runs at the end.
class Process {
 public:
  Process(std::vector<std::string> argv, const std::string& out, const std::string& err = "");
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  void Signal(int signal) const;
  // The exit code, 128 + the signal that ended it, or -1 while it still runs after `timeout`.
  int Wait(std::chrono::milliseconds timeout = 10s);
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// What a program run to its end (at most 10 s) said, and its exit code.
struct Outcome {
  int status = -1;
  std::string out, err;
};
Outcome RunToEnd(const std::vector<std::string>& argv);

// zelfarmd with `args`, its log appended to dir/zelfarmd.log; null (with a test failure) when
// the Unix socket at `socket` does not answer within 10 s.
std::unique_ptr<Process> StartServer(const std::string& dir, const std::vector<std::string>& args,
                                     const std::string& socket);

// Whether something answers on the Unix socket at `path`.
bool Answers(const std::string& path);
// Whether `done` turns true within `timeout`, asked every 20 ms.
bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s);
std::string ReadFile(const std::string& path);

// A console's options for the Unix socket at `socket`.
zel::transport::ClientOptions UnixClient(const std::string& socket, bool dispatcher = false);

// A request of ours from `sourceUID` to the AdminTool subsystem: the reply's first field, or the
// transport's code; *reply gets the reply.
int32_t SendRaw(zel::transport::Client& client, uint16_t sourceUID, ZEL_BUF_EventBuffer* request,
                std::unique_ptr<ZEL_BUF_EventBuffer>* reply);
template <typename M>
int32_t Call(zel::transport::Client& client, uint16_t sourceUID, const M& message,
             std::unique_ptr<ZEL_BUF_EventBuffer>* reply = nullptr) {
  auto* request = new ZEL_BUF_EventBuffer(M::kEventID, ZELVersion(1, 0), 0);
  zel::protocol::Encode(message, *request);
  return SendRaw(client, sourceUID, request, reply);
}

// "ok" when the SQLite file passes PRAGMA integrity_check, else what it says.
std::string IntegrityCheck(const std::string& path);

}  // namespace zel::farm::testing
