// One console of the soak, run in a process of its own (the library keeps per-process state):
// a connection to the farm, the library's SAL object on it, and a loop of mixed requests on a
// folder of the tree that only this console writes.
//
// The driver talks to it through two pipes. Commands, one byte each:
//   'F' a fault begins: failures from now on are expected   'C' the fault is over
//   'D' drop the connection now (calls under way break)     'V' check the folder
//   'S' stop and report
// Replies, one line each:
//   fault                                 (at once, to 'F')
//   check <differences> <nodes checked>, then "diff <text>" per difference
//   kind <name> <count> <histogram>      error <kind> <code> <during fault 0|1> <count>
//   unexpected <kind> <code> at <s>, after <ms> ms   (a failure outside a fault)
//   notifications <count>                done
#pragma once

#include <cstdint>
#include <string>

namespace zel::soak {

// The requests of the mix, in the order of the report.
inline constexpr const char* kKindNames[] = {"read", "list", "add", "retitle", "delete", "logon"};
inline constexpr int kKinds = 6;

struct ConsoleSettings {
  int index = 0;
  std::string address;    // the farm, "unix:PATH"
  std::string logonName;  // an administrator with a password
  std::string password;
  bool watch = false;  // subscribes to the tree's notifications and counts them
  uint64_t seed = 1;
};

// Runs until 'S'; the process's exit status.
int RunConsole(const ConsoleSettings& settings, int commands, int replies);

}  // namespace zel::soak
