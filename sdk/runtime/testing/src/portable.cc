#include "zel/runtime/testing/portable.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#endif

namespace zel::rt::testing {

TempFolder::TempFolder(const std::string& prefix) {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return;
  std::random_device random;
  // create_directory answers false for a folder that exists, so no two owners share one.
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%08x", static_cast<unsigned>(random()));
    const std::filesystem::path candidate = base / (prefix + suffix);
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = candidate.string();
      return;
    }
    if (error) return;
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::string TempFolder::File(const std::string& name) const {
  return (std::filesystem::path(path_) / name).string();
}

#if defined(_WIN32)

void SetEnvironment(const char* name, const char* value) {
  // _putenv_s changes the C library's copy and the process's, which children inherit; an
  // empty value removes the variable.
  _putenv_s(name, value != nullptr ? value : "");
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool ExportsSymbol(const std::string& library, const char* symbol, bool* loaded) {
  HMODULE module = GetModuleHandleA((library + ".dll").c_str());
  *loaded = module != nullptr;
  return module != nullptr && GetProcAddress(module, symbol) != nullptr;
}

#else

void SetEnvironment(const char* name, const char* value) {
  if (value != nullptr) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

namespace {

// The path of the loaded object named libNAME.so or libNAME.so.VERSION (a versioned library is
// loaded under its SONAME, which dlopen of the bare name does not match), or empty.
std::string LoadedPath(const std::string& library) {
  struct Search {
    std::string prefix;
    std::string path;
  } search{"lib" + library + ".so", {}};
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* wanted = static_cast<Search*>(data);
        const std::string path = info->dlpi_name == nullptr ? "" : info->dlpi_name;
        const std::string name = path.substr(path.find_last_of('/') + 1);
        const std::string& prefix = wanted->prefix;
        if (name == prefix || name.rfind(prefix + ".", 0) == 0) {
          wanted->path = path;
          return 1;
        }
        return 0;
      },
      &search);
  return search.path;
}

}  // namespace

bool ExportsSymbol(const std::string& library, const char* symbol, bool* loaded) {
  const std::string path = LoadedPath(library);
  void* handle = path.empty() ? nullptr : ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  *loaded = handle != nullptr;
  if (handle == nullptr) return false;
  const bool found = ::dlsym(handle, symbol) != nullptr;
  ::dlclose(handle);
  return found;
}

#endif

}  // namespace zel::rt::testing
