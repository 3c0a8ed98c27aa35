#include "server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <thread>

namespace zel::soak {

bool SocketAnswers(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const bool answered =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return answered;
}

Server::Server(std::string program, std::vector<std::string> args, std::string log,
               std::string socket)
    : program_(std::move(program)),
      args_(std::move(args)),
      log_(std::move(log)),
      socket_(std::move(socket)) {}

Server::~Server() {
  if (pid_ > 0) Kill();
}

bool Server::Start() {
  std::vector<char*> argv{program_.data()};
  for (std::string& arg : args_) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    const int log = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (log >= 0) {
      ::dup2(log, STDOUT_FILENO);
      ::dup2(log, STDERR_FILENO);
    }
    // An ignored signal stays ignored across exec: a write past the size limit then fails
    // with EFBIG instead of ending the process, as a write to a full disk fails.
    ::signal(SIGXFSZ, SIG_IGN);
    ::execv(program_.c_str(), argv.data());
    ::_exit(127);
  }
  if (pid_ < 0) return false;
  for (int i = 0; i < 1000; ++i) {
    if (SocketAnswers(socket_)) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void Server::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

bool Server::EndedByItself(int* status) {
  if (pid_ <= 0) return false;
  if (::waitpid(pid_, status, WNOHANG) != pid_) return false;
  pid_ = -1;
  return true;
}

bool Server::LimitFileSize(uint64_t bytes) {
  rlimit limit{};
  limit.rlim_cur = bytes == 0 ? RLIM_INFINITY : bytes;
  limit.rlim_max = RLIM_INFINITY;
  return pid_ > 0 && ::prlimit(pid_, RLIMIT_FSIZE, &limit, nullptr) == 0;
}

uint64_t Server::ResidentKiB() const {
  if (pid_ <= 0) return 0;
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      uint64_t kib = 0;
      status >> kib;
      return kib;
    }
    status.ignore(1 << 16, '\n');
  }
  return 0;
}

}  // namespace zel::soak
