// A farm server inside a console developer's test: the AdminTool subsystem and the
// notification hub on a fresh store in a temporary folder, served on a Unix socket there, with
// this process's user as the farm's owner. Consoles connect to Address() as they would to a
// zelfarmd; the folder and the store go when the object does.
//
//   zel::farm::testing::TestFarmServer farm;
//   ASSERT_EQ(farm.Start(), 0) << farm.Error();
//   zel::transport::ClientOptions options;
//   options.address = farm.Address();
//   zel::transport::Client client(options);
//   zel::transport::ConsoleHost host(client, 50);
//   ZEL_AdminToolSAL6 sal(host);  // acts as the owner: may add administrators
//
// Passwords are hashed at the cheapest cost and the keys are fixed test keys, so tests run
// fast; nothing here is fit for a real farm.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zel/farm/farm_host.h"

namespace zel::farm::testing {

// Options of a farm that costs little: passwords hashed at the cheapest cost, the fixed test
// keys, `serverID`. The farm below runs with them; benchmarks use them for farms of their own.
zel::subsystem::Options CheapOptions(uint16_t serverID = 0);

class TestFarmServer {
 public:
  TestFarmServer();
  TestFarmServer(const TestFarmServer&) = delete;
  TestFarmServer& operator=(const TestFarmServer&) = delete;
  ~TestFarmServer();

  // Starts serving; 0, or the transport's code with why in Error().
  int32_t Start();
  // Stops serving; requests in flight finish first. Start may be called again.
  void Stop();

  // "unix:" and the socket's path.
  std::string Address() const { return "unix:" + folder_ + "/farm.sock"; }
  // The store file, for a test that looks at it after Stop.
  std::string StorePath() const { return folder_ + "/farm.db"; }
  const std::string& Error() const { return error_; }
  // The server's log lines so far.
  std::vector<std::string> LogLines() const;

 private:
  struct State;
  std::string folder_;
  std::string error_;
  std::unique_ptr<State> state_;
};

}  // namespace zel::farm::testing
