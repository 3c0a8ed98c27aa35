// A zelfarmd process in a temporary folder, started and stopped by a test: its store, its Unix
// socket, its log, and raw requests to it through a console client.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zel/protocol/grammar.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/testing/portable.h"
#include "zel/transport/client.h"

namespace zel::farm::testing {

// A folder that lives as long as the object.
struct TempFolder : zel::rt::testing::TempFolder {
  TempFolder() : zel::rt::testing::TempFolder("zelfarmd") {}
};

// A console's options for the Unix socket at `socket`.
zel::transport::ClientOptions UnixClient(const std::string& socket, bool dispatcher = false);

class ServerProcess {
 public:
  // Runs zelfarmd (or `program`, which runs it) with `args` in `folder`; its output goes to
  // folder/zelfarmd.log.
  ServerProcess(std::string folder, std::vector<std::string> args, std::string program = "");
  ~ServerProcess();  // kill -9 when still running

  // Starts it and waits until `socketPath` answers (at most 10 s); false when it does not.
  bool Start(const std::string& socketPath);
  // Sends a signal.
  void Signal(int signal);
  // Waits for the exit (at most `timeout`); the exit code, 128+signal, or -1 on timeout.
  int Wait(std::chrono::milliseconds timeout);
  std::string Log() const;
  // The running process's ID, or -1.
  pid_t Pid() const { return pid_; }

 private:
  std::string folder_;
  std::vector<std::string> args_;
  std::string program_;
  pid_t pid_ = -1;
};

// Runs zelfarmd to its end with `args` (at most 10 s): its exit code; *output gets stdout and
// stderr.
int RunToEnd(const std::vector<std::string>& args, std::string* output);

// Whether something answers on the Unix socket at `path`.
bool Answers(const std::string& path);

// A request of ours from `sourceUID` to the AdminTool subsystem, sent through `client`; the
// result (the reply's first field, or the transport's code), and *reply.
template <typename M>
int32_t Call(zel::transport::Client& client, uint16_t sourceUID, const M& message,
             std::unique_ptr<ZEL_BUF_EventBuffer>* reply = nullptr);
int32_t SendRaw(zel::transport::Client& client, uint16_t eventID, uint16_t sourceUID,
                ZEL_BUF_EventBuffer* request, std::unique_ptr<ZEL_BUF_EventBuffer>* reply);

template <typename M>
int32_t Call(zel::transport::Client& client, uint16_t sourceUID, const M& message,
             std::unique_ptr<ZEL_BUF_EventBuffer>* reply) {
  auto* request = new ZEL_BUF_EventBuffer(M::kEventID, ZELVersion(1, 0), 0);
  zel::protocol::Encode(message, *request);
  return SendRaw(client, M::kEventID, sourceUID, request, reply);
}

// "ok" when the SQLite file passes PRAGMA integrity_check, else what it says.
std::string IntegrityCheck(const std::string& path);

}  // namespace zel::farm::testing
