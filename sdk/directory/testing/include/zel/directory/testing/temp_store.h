// A store location in a fresh temporary folder, removed with everything in it at the end.
#pragma once

#include <string>
#include <utility>

#include "zel/directory/service.h"
#include "zel/runtime/testing/portable.h"

namespace zel::dir::testing {

class TempStore final : public ZEL_DIR_StoreLocation {
 public:
  TempStore() = default;
  TempStore(const TempStore&) = delete;
  TempStore& operator=(const TempStore&) = delete;

  std::string StorePath() override { return folder_.File("directory.db"); }
  const std::string& Folder() const { return folder_.Path(); }

 private:
  zel::rt::testing::TempFolder folder_{"zeldir"};
};

// A location named by its path (the store of another process's TempStore).
class StoreAt final : public ZEL_DIR_StoreLocation {
 public:
  explicit StoreAt(std::string path) : path_(std::move(path)) {}
  std::string StorePath() override { return path_; }

 private:
  std::string path_;
};

}  // namespace zel::dir::testing
