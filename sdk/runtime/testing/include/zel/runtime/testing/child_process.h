// Child processes for tests that need a second process (two writers, a process killed in the
// middle of its work). The child is the test program itself, started again in a "role": a
// function registered under a name, which the program's main runs instead of the tests
// (RunChildRoleIfAsked). A fork would be simpler but does not exist on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zel::rt::testing {

// What a role does: its exit code, given the argument the parent passed.
using ChildRoleMain = int (*)(const std::string& argument);

// Registers a role, at static initialisation (a namespace-scope object in the test file).
class ChildRole {
 public:
  ChildRole(const char* name, ChildRoleMain main);
};

// In main, before the tests: when this process was started as a child, runs its role and
// gives true with the role's exit code; otherwise false.
bool RunChildRoleIfAsked(int* exitCode);

class ChildProcess {
 public:
  // Starts this program again in `role` with `argument`; its standard output comes to
  // ReadLine.
  static ChildProcess StartRole(const char* role, const std::string& argument);
  // Starts `program` (a path, or a name beside this program) with `arguments`; its standard
  // output comes to ReadLine.
  static ChildProcess Start(const std::string& program, const std::vector<std::string>& arguments);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ~ChildProcess();  // kills a child that still runs

  bool Started() const;
  // The next line the child wrote (without its end), or false at the end of its output.
  bool ReadLine(std::string* line);
  // Everything the child still writes, until it ends.
  std::string ReadAll();
  // Waits for the child; its exit code, or -1 when it did not exit by itself.
  int Wait();
  // Ends the child at once, as a crash would, and waits for it.
  void Kill();

 private:
  ChildProcess() = default;

  std::intptr_t process_ = -1;  // pid_t, or the process HANDLE
  std::intptr_t output_ = -1;   // read end of the output pipe (fd or HANDLE)
  std::string pending_;
  bool waited_ = false;
  int exitCode_ = -1;
};

// The path of this test program.
std::string ThisProgramPath();

// The program (and a space) that child programs must be started through when the tests run
// under one (32-bit programs on a kernel that cannot run them); empty otherwise. For tests that
// start programs through a shell.
std::string ChildEmulatorPrefix();

}  // namespace zel::rt::testing
