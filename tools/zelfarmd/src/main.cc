// zelfarmd: the farm server. Hosts the AdminTool subsystem and the notification hub on the
// transport's server, configured by command line and configuration file (zel/farm/settings.h).
//
// Signals: SIGTERM (and SIGINT) stop accepting, let requests in flight finish and exit 0;
// SIGHUP reads the configuration again and restarts the listeners with it (addresses, TLS
// files, certificate map, owner); the store, keys and hash limits need a restart. Every signal
// is taken by the main thread alone (sigtimedwait), which also feeds the service manager's
// watchdog.
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "secrets/farm_keys.h"
#include "zel/directory/codes.h"
#include "zel/farm/farm_host.h"
#include "zel/farm/settings.h"

#ifndef ZELFARMD_VERSION
#define ZELFARMD_VERSION "0"
#endif

namespace {

std::mutex logMutex;

// One structured line: time, level, then key=value pairs; a message is quoted.
void Log(const char* level, std::string_view message) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::string text;
  for (const char c : message) {
    if (c == '"' || c == '\\') text += '\\';
    text += (c == '\n') ? ' ' : c;
  }
  std::lock_guard lock(logMutex);
  std::fprintf(stderr, "time=%s level=%s msg=\"%s\"\n", stamp, level, text.c_str());
  std::fflush(stderr);
}

// The options as the command line gave them, by setting key.
struct CommandLine {
  std::string config;
  zel::farm::SettingValues given;
};

// Why a directory server's store cannot be used, for the log.
std::string StoreProblem(int32_t code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<uint32_t>(code));
  switch (code) {
    case zel::dir::kServerUnreachable:
      return std::string(hex) + " the server cannot be reached";
    case zel::dir::kCredentialsRefused:
      return std::string(hex) + " the credentials are refused";
    case zel::dir::kSchemaMissing:
      return std::string(hex) + " the server has no zeladminsal schema loaded, or an older one";
    case zel::dir::kBaseMissing:
      return std::string(hex) + " the base entry is missing";
    case zel::dir::kInvalidArgument:
      return std::string(hex) + " the location does not read";
    default:
      return hex;
  }
}

// Reads the configuration (file, then command line over it) into *settings.
bool Load(const CommandLine& line, zel::farm::Settings* settings, std::string* error) {
  zel::farm::SettingValues file;
  if (!line.config.empty() && !zel::farm::ReadConfigFile(line.config, &file, error)) return false;
  return zel::farm::MergeSettings(file, line.given, settings, error);
}

// Listening sockets handed over by systemd.
std::vector<int> InheritedSockets() {
  std::vector<int> fds;
  const int count = sd_listen_fds(1);
  for (int i = 0; i < count; ++i) fds.push_back(SD_LISTEN_FDS_START + i);
  return fds;
}

int Serve(const CommandLine& line, const zel::farm::Settings& first) {
  zel::subsystem::Options options;
  options.pwhashLimits = first.pwhashLimits;
  options.keysFolder = first.keys;
  options.serverID = static_cast<uint16_t>(first.serverID);
  const std::vector<int> inherited = InheritedSockets();
  const std::string store = zel::farm::StoreLocationFor(first);
  zel::farm::FarmHost farm(store, std::move(options),
                           [](std::string_view text) { Log("info", text); });
  // A directory server says at once what is wrong with it, rather than at the first request.
  if (zel::farm::IsDirectoryServer(store)) {
    if (const int32_t code = farm.CheckStore()) {
      Log("error", "cannot use the store " + first.store + ": " + StoreProblem(code));
      return 1;
    }
  }
  zel::transport::ServerOptions serverOptions = zel::farm::ServerOptionsFor(first);
  serverOptions.inheritedUnixSockets = inherited;
  std::string error;
  if (farm.Start(serverOptions, &error) != 0) {
    Log("error", "cannot start: " + error);
    return 1;
  }
  std::string addresses;
  for (const std::string& address : farm.ListeningAddresses()) addresses += " " + address;
  Log("info", "serving store " + first.store + " on" + addresses + " server-id " +
                  std::to_string(first.serverID));
  sd_notify(0, "READY=1");
  uint64_t watchdog = 0;
  const bool feedWatchdog = sd_watchdog_enabled(0, &watchdog) > 0 && watchdog > 0;
  const long waitNanos = feedWatchdog ? static_cast<long>(watchdog / 2 * 1000) : 1'000'000'000L;

  sigset_t signals;
  sigemptyset(&signals);
  for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
  for (;;) {
    timespec wait{waitNanos / 1'000'000'000L, waitNanos % 1'000'000'000L};
    const int signal = sigtimedwait(&signals, nullptr, &wait);
    if (feedWatchdog) sd_notify(0, "WATCHDOG=1");
    if (signal == SIGTERM || signal == SIGINT) break;
    if (signal != SIGHUP) continue;
    sd_notify(0, "RELOADING=1");
    zel::farm::Settings next;
    if (!Load(line, &next, &error) || !zel::farm::CheckSettings(next, !inherited.empty(), &error)) {
      Log("error", "reload refused, the running configuration stays: " + error);
    } else {
      if (next.store != first.store || next.keys != first.keys ||
          next.pwhashLimits != first.pwhashLimits || next.serverID != first.serverID) {
        Log("warning", "store, keys, pwhash-limits and server-id change only at a restart");
      }
      bool running = false;
      if (farm.Reconfigure(zel::farm::ServerOptionsFor(next), &error, &running) != 0) {
        Log("error", "reload failed: " + error);
        if (!running) {
          Log("error", "the previous configuration cannot be started again either");
          return 1;
        }
      } else {
        Log("info", "configuration reloaded");
      }
    }
    sd_notify(0, "READY=1");
  }
  sd_notify(0, "STOPPING=1");
  Log("info", "stopping: finishing requests in flight");
  farm.Stop();
  Log("info", "stopped");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Signals are blocked in every thread (the server's start after this) and taken by Serve.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  CLI::App app{"zelfarmd: the farm server (AdminTool subsystem and notification hub)"};
  app.set_version_flag("--version", std::string("zelfarmd ") + ZELFARMD_VERSION);
  CommandLine line;
  bool checkConfig = false;
  std::string initKeys;
  std::map<std::string, std::string> single;
  std::map<std::string, std::vector<std::string>> repeated;
  bool insecure = false;
  app.add_option("--config", line.config, "configuration file of key = value lines");
  for (const auto& [key, help] :
       {std::pair{"store", "the store: sqlite:PATH, PATH, or an ldap://, ldaps://, ldapi:// URL"},
        std::pair{"tls-cert", "the server's certificate chain (PEM)"},
        std::pair{"tls-key", "the server's private key (PEM)"},
        std::pair{"tls-ca", "the authority that signs console certificates (PEM)"},
        std::pair{"keys", "the folder of the farm's key files"},
        std::pair{"owner", "the login that owns the farm over the Unix socket"},
        std::pair{"pwhash-limits", "password hash cost: min, interactive or moderate"},
        std::pair{"server-id", "this server's number in the farm"}}) {
    app.add_option(std::string("--") + key, single[key], help);
  }
  app.add_option("--listen", repeated["listen"], "unix:PATH, tls:HOST:PORT or tcp:HOST:PORT");
  app.add_option("--map-cert", repeated["map-cert"], "SUBJECT=ACCOUNT for TLS consoles");
  app.add_flag("--insecure", insecure, "allow plain tcp: addresses (tests only)");
  app.add_flag("--check-config", checkConfig, "check the configuration and exit");
  app.add_option("--init-keys", initKeys, "make the farm's key files in DIR and exit");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }

  if (!initKeys.empty()) {
    std::string error;
    if (!zel::secrets::InitFarmKeys(initKeys, &error)) {
      Log("error", "init-keys: " + error);
      return 1;
    }
    Log("info", "keys written to " + initKeys);
    return 0;
  }
  for (const auto& [key, value] : single) {
    if (app.count("--" + key) > 0) line.given[key] = {value};
  }
  for (const auto& [key, values] : repeated) {
    if (app.count("--" + key) > 0) line.given[key] = values;
  }
  if (insecure) line.given["insecure"] = {"true"};

  zel::farm::Settings settings;
  std::string error;
  const bool inherited = sd_listen_fds(0) > 0;
  if (!Load(line, &settings, &error) || !zel::farm::CheckSettings(settings, inherited, &error)) {
    Log("error", "configuration: " + error);
    return 2;
  }
  if (checkConfig) {
    std::printf("configuration ok\n");
    return 0;
  }
  return Serve(line, settings);
}
