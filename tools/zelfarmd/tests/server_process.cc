#include "server_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace zel::farm::testing {

Process::Process(std::vector<std::string> argv, const std::string& out, const std::string& err) {
  pid_ = ::fork();
  if (pid_ != 0) return;
  const int output = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  ::dup2(output, 1);
  ::dup2(err.empty() ? output : ::open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600), 2);
  ::dup2(::open("/dev/null", O_RDONLY), 0);
  // Nothing of the test (its consoles' sockets) leaks into the child, and the child blocks no
  // signal a server relies on.
  ::close_range(3, ~0U, 0);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  ::execv(pointers[0], pointers.data());
  ::_exit(127);
}

Process::~Process() {
  Signal(SIGKILL);
  Wait();
}

void Process::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

int Process::Wait(std::chrono::milliseconds timeout) {
  int status = 0, code = -1;
  Eventually([&] { return pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
  if (pid_ > 0 && (WIFEXITED(status) || WIFSIGNALED(status))) {
    code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
  }
  return code;
}

Outcome RunToEnd(const std::vector<std::string>& argv) {
  TempFolder folder;
  Outcome outcome;
  {
    Process program(argv, folder.File("out"), folder.File("err"));
    outcome.status = program.Wait();
  }
  outcome.out = ReadFile(folder.File("out"));
  outcome.err = ReadFile(folder.File("err"));
  return outcome;
}

std::unique_ptr<Process> StartServer(const std::string& dir, const std::vector<std::string>& args,
                                     const std::string& socket) {
  std::vector<std::string> argv{ZELFARMD_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  auto server = std::make_unique<Process>(argv, dir + "/zelfarmd.log");
  if (Eventually([&] { return Answers(socket); })) return server;
  ADD_FAILURE() << "zelfarmd does not answer on " << socket << ":\n"
                << ReadFile(dir + "/zelfarmd.log");
  return nullptr;
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

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  for (const auto until = std::chrono::steady_clock::now() + timeout;
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms)) {
    if (done()) return true;
  }
  return done();
}

std::string ReadFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

zel::transport::ClientOptions UnixClient(const std::string& socket, bool dispatcher) {
  zel::transport::ClientOptions options;
  options.address = "unix:" + socket;
  options.timeout = 3000ms;
  options.offerDispatcher = dispatcher;
  return options;
}

int32_t SendRaw(zel::transport::Client& client, uint16_t sourceUID, ZEL_BUF_EventBuffer* request,
                std::unique_ptr<ZEL_BUF_EventBuffer>* reply) {
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
    auto keep = [](void* to, int, char** values, char**) {
      *static_cast<std::string*>(to) = values[0] != nullptr ? values[0] : "";
      return 0;
    };
    sqlite3_exec(db, "PRAGMA integrity_check", keep, &answer, nullptr);
  }
  sqlite3_close(db);
  return answer;
}

}  // namespace zel::farm::testing
