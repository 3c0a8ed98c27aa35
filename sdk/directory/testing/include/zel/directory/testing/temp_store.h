// A store location in a fresh temporary folder, removed with everything in it at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "zel/directory/service.h"

namespace zel::dir::testing {

class TempStore final : public ZEL_DIR_StoreLocation {
 public:
  TempStore() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zeldir-XXXXXX").string();
    folder_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  TempStore(const TempStore&) = delete;
  TempStore& operator=(const TempStore&) = delete;
  ~TempStore() {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }

  std::string StorePath() override { return folder_ + "/directory.db"; }
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
};

}  // namespace zel::dir::testing
