#include "server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "zel/protocol/events.h"

namespace zel::farm::testing {

zel::transport::ClientOptions UnixClient(const std::string& socket, bool dispatcher) {
  zel::transport::ClientOptions options;
  options.address = "unix:" + socket;
  options.timeout = std::chrono::milliseconds(3000);
  options.offerDispatcher = dispatcher;
  return options;
}

namespace {

pid_t Spawn(const std::string& path, const std::vector<std::string>& args,
            const std::string& output) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, 1);
  ::dup2(fd, 2);
  // Nothing of the test (its consoles' sockets) leaks into the server.
  ::close_range(3, ~0U, 0);
  // The test blocks no signal the server relies on; its own mask is reset here.
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  std::vector<char*> argv;
  std::string program = path;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

int WaitFor(pid_t pid, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() > until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

ServerProcess::ServerProcess(std::string folder, std::vector<std::string> args, std::string program)
    : folder_(std::move(folder)),
      args_(std::move(args)),
      program_(program.empty() ? ZELFARMD_PATH : std::move(program)) {}

ServerProcess::~ServerProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    WaitFor(pid_, std::chrono::seconds(5));
  }
}

bool ServerProcess::Start(const std::string& socketPath) {
  pid_ = Spawn(program_, args_, folder_ + "/zelfarmd.log");
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < until) {
    if (Answers(socketPath)) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void ServerProcess::Signal(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

int ServerProcess::Wait(std::chrono::milliseconds timeout) {
  const int code = WaitFor(pid_, timeout);
  if (code >= 0) pid_ = -1;
  return code;
}

std::string ServerProcess::Log() const { return ReadFile(folder_ + "/zelfarmd.log"); }

int RunToEnd(const std::vector<std::string>& args, std::string* output) {
  TempFolder folder;
  const std::string file = folder.Path() + "/output";
  const pid_t pid = Spawn(ZELFARMD_PATH, args, file);
  const int code = WaitFor(pid, std::chrono::seconds(10));
  if (code < 0) ::kill(pid, SIGKILL);
  *output = ReadFile(file);
  return code;
}

bool Answers(const std::string& path) {
  sockaddr_un name{};
  name.sun_family = AF_UNIX;
  std::strncpy(name.sun_path, path.c_str(), sizeof name.sun_path - 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool answered = ::connect(fd, reinterpret_cast<const sockaddr*>(&name), sizeof name) == 0;
  ::close(fd);
  return answered;
}

int32_t SendRaw(zel::transport::Client& client, uint16_t, uint16_t sourceUID,
                ZEL_BUF_EventBuffer* request, std::unique_ptr<ZEL_BUF_EventBuffer>* reply) {
  request->SetSrcSubsystemUID(sourceUID);
  request->SetDestSubsystemUID(zel::protocol::kAdminToolSubsystemUID);
  ZEL_BUF_EventBuffer* answer = nullptr;
  const int32_t sent = client.Send(request, &answer);
  if (sent < 0) return sent;
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(answer);
  int32_t result = 0;
  if (owned->GetSize() >= 4) std::memcpy(&result, owned->GetData(), 4);
  if (reply != nullptr) *reply = std::move(owned);
  return result;
}

std::string IntegrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  std::string answer = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      answer = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return answer;
}

}  // namespace zel::farm::testing
