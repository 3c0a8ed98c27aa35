#include "zel/farm/testing/test_farm_server.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace zel::farm::testing {

namespace {

std::string CurrentLogin() {
  passwd* entry = getpwuid(geteuid());
  return entry != nullptr ? entry->pw_name : "#" + std::to_string(geteuid());
}

}  // namespace

zel::subsystem::Options CheapOptions(uint16_t serverID) {
  zel::subsystem::Options options;
  options.pwhashLimits = zel::subsystem::PwhashLimits::kMin;
  options.serverID = serverID;
  zel::subsystem::FarmKeys keys;
  for (uint8_t i = 0; i < 32; ++i) {
    keys.transport[i] = static_cast<uint8_t>(0x40 + i);
    keys.ticket[i] = static_cast<uint8_t>(0x80 + i);
  }
  options.keys = keys;
  return options;
}

struct TestFarmServer::State {
  mutable std::mutex mu;
  std::vector<std::string> log;
  std::unique_ptr<FarmHost> host;
};

TestFarmServer::TestFarmServer() : state_(std::make_unique<State>()) {
  std::string pattern = (std::filesystem::temp_directory_path() / "zelfarm_XXXXXX").string();
  folder_ = ::mkdtemp(pattern.data());
  State* state = state_.get();
  state_->host = std::make_unique<FarmHost>("sqlite:" + StorePath(), CheapOptions(),
                                            [state](std::string_view line) {
                                              std::lock_guard lock(state->mu);
                                              state->log.emplace_back(line);
                                            });
}

TestFarmServer::~TestFarmServer() {
  state_->host.reset();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

int32_t TestFarmServer::Start() {
  zel::transport::ServerOptions options;
  options.listen = {Address()};
  options.owner = CurrentLogin();
  return state_->host->Start(options, &error_);
}

void TestFarmServer::Stop() { state_->host->Stop(); }

std::vector<std::string> TestFarmServer::LogLines() const {
  std::lock_guard lock(state_->mu);
  return state_->log;
}

}  // namespace zel::farm::testing
