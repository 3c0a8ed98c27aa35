// The zelfarmd the soak runs against, as a child process: started, killed with -9, restarted,
// its file size limit lowered to stand for a full disk, its resident memory read.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zel::soak {

class Server {
 public:
  // `program` with `args`; its output is appended to `log`; `socket` is where it answers.
  Server(std::string program, std::vector<std::string> args, std::string log, std::string socket);
  ~Server();  // kill -9 when still running

  // Starts it and waits (at most 10 s) until the socket answers; false when it does not.
  bool Start();
  // kill -9 and reaps it.
  void Kill();
  // Whether it ended by itself (not by Kill); *status then holds its wait status.
  bool EndedByItself(int* status);
  // The largest size a file of the server may grow to (no limit when `bytes` is 0). A write
  // beyond it fails with EFBIG (SIGXFSZ is ignored in the server): what a full disk does to a
  // store that grows.
  bool LimitFileSize(uint64_t bytes);
  // Resident memory in KiB (0 when unknown).
  uint64_t ResidentKiB() const;
  pid_t Pid() const { return pid_; }

 private:
  std::string program_;
  std::vector<std::string> args_;
  std::string log_;
  std::string socket_;
  pid_t pid_ = -1;
};

// Whether something accepts a connection on the Unix socket at `path`.
bool SocketAnswers(const std::string& path);

}  // namespace zel::soak
