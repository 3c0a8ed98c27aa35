// zeltrace: switches the library's tracing on and off through the control file, and prints a
// trace file as readable lines.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "format.h"
#include "zel/admintool/trace_messages.h"
#include "zel/tracedev/device.h"
#include "zel/tracedev/files.h"

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  zeltrace enable  [--control FILE] --trace FILE [--flags error,info,entry] [--level N]\n"
    "  zeltrace disable [--control FILE]\n"
    "  zeltrace status  [--control FILE]\n"
    "  zeltrace dump    FILE\n"
    "The control file defaults to $ZEL_TRACE_CONTROL, the variable traced processes read.\n";

int Fail(const std::string& why) {
  std::fprintf(stderr, "zeltrace: %s\n", why.c_str());
  return 1;
}

struct Options {
  std::string control;
  std::string trace;
  std::string flags = "error,info,entry";
  int level = 5;
};

bool ParseFlags(const std::string& names, uint8_t* flags) {
  *flags = 0;
  std::size_t start = 0;
  while (start <= names.size()) {
    const std::size_t comma = names.find(',', start);
    const std::string name = names.substr(start, comma - start);
    if (name == "error") {
      *flags |= zel::trace::kFlagError;
    } else if (name == "info") {
      *flags |= zel::trace::kFlagInfo;
    } else if (name == "entry") {
      *flags |= zel::trace::kFlagEntry;
    } else if (!name.empty()) {
      return false;
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return true;
}

int Enable(const Options& options) {
  if (options.trace.empty()) return Fail("enable needs --trace FILE");
  if (options.level < 0 || options.level > 255) return Fail("--level takes 0 to 255");
  zel::trace::ControlSettings settings;
  if (!ParseFlags(options.flags, &settings.flags)) return Fail("unknown flag in " + options.flags);
  settings.component = zel::trace::kComponentName;
  settings.tracePath = options.trace;
  settings.logger = 1;
  settings.level = static_cast<uint8_t>(options.level);
  const std::string error = zel::trace::WriteControlFile(options.control, settings);
  return error.empty() ? 0 : Fail(error);
}

int Disable(const Options& options) {
  zel::trace::ControlSettings settings;
  const std::string read = zel::trace::ReadControlFile(options.control, &settings);
  if (!read.empty()) return Fail(read);
  settings.logger = 0;
  settings.flags = 0;
  const std::string error = zel::trace::WriteControlFile(options.control, settings);
  return error.empty() ? 0 : Fail(error);
}

int Status(const Options& options) {
  zel::trace::ControlSettings settings;
  const std::string read = zel::trace::ReadControlFile(options.control, &settings);
  if (!read.empty()) return Fail(read);
  std::printf("%s: %s, flags 0x%02x, level %u, trace file %s\n", options.control.c_str(),
              settings.logger != 0 ? "on" : "off", settings.flags, settings.level,
              settings.tracePath.c_str());
  return 0;
}

int Dump(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail("cannot open " + path);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  bool damaged = false;
  for (const auto& record : zel::trace::DecodeTraceFile(bytes, &damaged)) {
    std::printf("%s\n", zeltrace::FormatRecord(record).c_str());
  }
  return damaged ? Fail(path + " ends in a damaged record") : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Fail(std::string("no command\n") + kUsage);
  const std::string command = argv[1];
  if (command == "dump") {
    if (argc != 3) return Fail(std::string("dump takes one file\n") + kUsage);
    return Dump(argv[2]);
  }
  Options options;
  if (const char* fromEnvironment = std::getenv(zel::trace::kControlFileVariable)) {
    options.control = fromEnvironment;
  }
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return Fail(option + " needs a value\n" + kUsage);
    const std::string value = argv[++i];
    if (option == "--control") {
      options.control = value;
    } else if (option == "--trace") {
      options.trace = value;
    } else if (option == "--flags") {
      options.flags = value;
    } else if (option == "--level") {
      options.level = std::atoi(value.c_str());
    } else {
      return Fail("unknown option " + option + "\n" + kUsage);
    }
  }
  if (options.control.empty()) return Fail("no control file: --control FILE or $ZEL_TRACE_CONTROL");
  if (command == "enable") return Enable(options);
  if (command == "disable") return Disable(options);
  if (command == "status") return Status(options);
  return Fail("unknown command " + command + "\n" + kUsage);
}
