#include "zel/runtime/testing/child_process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <utility>

#include "zel/runtime/testing/portable.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace zel::rt::testing {
namespace {

// The child's role and argument travel in one variable: "ROLE:ARGUMENT".
constexpr const char* kRoleVariable = "ZEL_TEST_CHILD";
// A program that children are started through, when the tests run under one.
constexpr const char* kEmulatorVariable = "ZEL_TEST_EMULATOR";

std::map<std::string, ChildRoleMain>& Roles() {
  static std::map<std::string, ChildRoleMain> roles;
  return roles;
}

std::filesystem::path ThisProgram() {
#if defined(_WIN32)
  std::wstring path(32768, L'\0');  // the longest path Windows has
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
#else
  return std::filesystem::read_symlink("/proc/self/exe");
#endif
}

// A program named without a folder is looked for beside this one.
std::filesystem::path Resolve(const std::string& program) {
  const std::filesystem::path path(program);
  return path.has_parent_path() ? path : ThisProgram().parent_path() / path;
}

#if defined(_WIN32)

// One argument of a command line as the C runtime splits it again: quoted, a quote escaped
// with a backslash, and backslashes doubled where a quote follows them.
void AppendQuoted(std::wstring* line, const std::wstring& argument) {
  line->push_back(L'"');
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line->append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    line->push_back(c);
  }
  line->append(2 * backslashes, L'\\');
  line->push_back(L'"');
}

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

#endif

// Reads what the child wrote next into `chunk`; 0 at the end of its output.
std::size_t ReadChunk(std::intptr_t output, char* chunk, std::size_t size) {
#if defined(_WIN32)
  DWORD read = 0;
  return ReadFile(AsHandle(output), chunk, static_cast<DWORD>(size), &read, nullptr) ? read : 0;
#else
  ssize_t read;
  do {
    read = ::read(static_cast<int>(output), chunk, size);
  } while (read < 0 && errno == EINTR);
  return read > 0 ? static_cast<std::size_t>(read) : 0;
#endif
}

// Ends the child first when `kill`, waits for it and lets go of it and its output; its exit
// code, or -1 when it did not exit by itself.
int Reap(std::intptr_t process, std::intptr_t* output, bool kill) {
  int exitCode = -1;
#if defined(_WIN32)
  if (kill) TerminateProcess(AsHandle(process), 137);
  WaitForSingleObject(AsHandle(process), INFINITE);
  DWORD code = 0;
  if (!kill && GetExitCodeProcess(AsHandle(process), &code)) exitCode = static_cast<int>(code);
  CloseHandle(AsHandle(process));
  if (*output != -1) CloseHandle(AsHandle(*output));
#else
  if (kill) ::kill(static_cast<pid_t>(process), SIGKILL);
  int status = 0;
  const bool reaped = ::waitpid(static_cast<pid_t>(process), &status, 0) == process;
  if (!kill && reaped && WIFEXITED(status)) exitCode = WEXITSTATUS(status);
  if (*output != -1) ::close(static_cast<int>(*output));
#endif
  *output = -1;
  return exitCode;
}

}  // namespace

ChildRole::ChildRole(const char* name, ChildRoleMain main) { Roles()[name] = main; }

bool RunChildRoleIfAsked(int* exitCode) {
  const char* asked = std::getenv(kRoleVariable);
  if (asked == nullptr || *asked == '\0') return false;
  const std::string value(asked);
  const std::size_t colon = value.find(':');
  const auto role = Roles().find(value.substr(0, colon));
  if (role == Roles().end()) {
    std::fprintf(stderr, "no child role %s in this program\n", value.substr(0, colon).c_str());
    *exitCode = 127;
    return true;
  }
  SetEnvironment(kRoleVariable, nullptr);  // the child's own children are not children again
  *exitCode = role->second(colon == std::string::npos ? std::string() : value.substr(colon + 1));
  return true;
}

std::string ThisProgramPath() { return ThisProgram().string(); }

std::string ChildEmulatorPrefix() {
  const char* emulator = std::getenv(kEmulatorVariable);
  return emulator != nullptr && *emulator != '\0' ? std::string(emulator) + " " : std::string();
}

ChildProcess ChildProcess::StartRole(const char* role, const std::string& argument) {
  SetEnvironment(kRoleVariable, (std::string(role) + ":" + argument).c_str());
  ChildProcess child = Start(ThisProgram().string(), {});
  SetEnvironment(kRoleVariable, nullptr);
  return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : process_(std::exchange(other.process_, -1)),
      output_(std::exchange(other.output_, -1)),
      pending_(std::move(other.pending_)),
      waited_(other.waited_),
      exitCode_(other.exitCode_) {}

ChildProcess::~ChildProcess() {
  if (process_ != -1 && !waited_) Kill();
}

bool ChildProcess::Started() const { return process_ != -1; }

bool ChildProcess::ReadLine(std::string* line) {
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      // Every carriage return before the line end goes: a Windows child's text-mode output
      // turns a "\r\n" it writes into "\r\r\n".
      std::size_t length = end;
      while (length > 0 && pending_[length - 1] == '\r') --length;
      *line = pending_.substr(0, length);
      pending_.erase(0, end + 1);
      return true;
    }
    char chunk[4096];
    const std::size_t got = output_ == -1 ? 0 : ReadChunk(output_, chunk, sizeof chunk);
    if (got == 0) {
      if (pending_.empty()) return false;
      *line = std::move(pending_);
      pending_.clear();
      return true;
    }
    pending_.append(chunk, got);
  }
}

int ChildProcess::Wait() {
  if (process_ == -1) return -1;
  if (!waited_) {
    ReadAll();  // a child blocked on a full pipe would never end
    exitCode_ = Reap(process_, &output_, false);
    waited_ = true;
  }
  return exitCode_;
}

void ChildProcess::Kill() {
  if (process_ == -1 || waited_) return;
  exitCode_ = Reap(process_, &output_, true);
  waited_ = true;
}

std::string ChildProcess::ReadAll() {
  std::string all, line;
  while (ReadLine(&line)) all += line + "\n";
  return all;
}

#if defined(_WIN32)

ChildProcess ChildProcess::Start(const std::string& program,
                                 const std::vector<std::string>& arguments) {
  ChildProcess child;
  const std::wstring path = Resolve(program).wstring();
  std::wstring line;
  AppendQuoted(&line, path);
  for (const std::string& argument : arguments) {
    line.push_back(L' ');
    AppendQuoted(&line,
                 std::filesystem::path(std::u8string(argument.begin(), argument.end())).wstring());
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return child;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started{};
  const BOOL ok = CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 nullptr, &startup, &started);
  CloseHandle(writeEnd);
  if (!ok) {
    CloseHandle(readEnd);
    return child;
  }
  CloseHandle(started.hThread);
  child.process_ = reinterpret_cast<std::intptr_t>(started.hProcess);
  child.output_ = reinterpret_cast<std::intptr_t>(readEnd);
  return child;
}

#else

ChildProcess ChildProcess::Start(const std::string& program,
                                 const std::vector<std::string>& arguments) {
  ChildProcess child;
  const std::string path = Resolve(program).string();
  std::vector<char*> argv;
  // Where the tests themselves run under an emulator (32-bit programs on a kernel that cannot
  // run them), their children must too.
  const char* emulator = std::getenv(kEmulatorVariable);
  if (emulator != nullptr && *emulator != '\0') argv.push_back(const_cast<char*>(emulator));
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  int pipeEnds[2];
  // Close-on-exec: no other program started meanwhile keeps the pipe open (dup2 onto the
  // child's output clears the flag there).
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return child;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (failed != 0) {
    ::close(pipeEnds[0]);
    return child;
  }
  child.process_ = pid;
  child.output_ = pipeEnds[0];
  return child;
}

#endif

}  // namespace zel::rt::testing
