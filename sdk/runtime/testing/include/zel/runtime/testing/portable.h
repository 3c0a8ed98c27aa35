// What tests need from the platform, the same on POSIX systems and Windows: a temporary
// folder, the environment, the process ID and the exports of a loaded library.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace zel::rt::testing {

// A folder made fresh under the system's temporary folder (its name starts with `prefix`),
// removed with everything in it at the end. Path() is empty when none could be made.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix);
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  const std::string& Path() const { return path_; }
  // The path of `name` inside the folder.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Sets an environment variable of this process (and of the processes it starts); a null value
// removes it.
void SetEnvironment(const char* name, const char* value);

uint32_t CurrentProcessId();

// Whether `library` (its base name: "ZelAdminSal" for libZelAdminSal.so or ZelAdminSal.dll),
// which must be loaded already, exports `symbol`. False as well when it is not loaded; *loaded
// says which.
bool ExportsSymbol(const std::string& library, const char* symbol, bool* loaded);

}  // namespace zel::rt::testing
