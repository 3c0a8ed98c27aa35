// zeltrace: switches the library's tracing on and off through the control file, and prints a
// trace file as readable lines.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

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
    "  zeltrace --help\n"
    "The control file defaults to $ZEL_TRACE_CONTROL, the variable traced processes read.\n"
    "enable creates the control file, or rewrites one that is a control file already; it\n"
    "refuses any other file.\n";

int Fail(const std::string& why) {
  std::fprintf(stderr, "zeltrace: %s\n", why.c_str());
  return 1;
}

struct Options {
  std::string control;
  std::string trace;
  std::string flags = "error,info,entry";
  uint8_t level = 5;
};

// A level: a decimal number from 0 to 255, nothing else.
bool ParseLevel(const std::string& text, uint8_t* level) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value > 255) return false;
  *level = static_cast<uint8_t>(value);
  return true;
}

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
  zel::trace::ControlSettings settings;
  if (!ParseFlags(options.flags, &settings.flags)) return Fail("unknown flag in " + options.flags);
  settings.component = zel::trace::kComponentName;
  settings.tracePath = options.trace;
  settings.logger = 1;
  settings.level = options.level;
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

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Prints the records as they are read, so a file of any size takes the memory of one record.
int Dump(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> in(std::fopen(path.c_str(), "rb"));
  if (!in) return Fail("cannot open " + path + ": " + std::strerror(errno));
  int readError = 0;
  zel::trace::TraceFileReader reader([&](uint8_t* out, std::size_t size) -> long {
    const std::size_t got = std::fread(out, 1, size, in.get());
    if (got == 0 && std::ferror(in.get())) {
      readError = errno;
      return -1;
    }
    return static_cast<long>(got);
  });
  zel::trace::FileRecord record;
  for (;;) {
    switch (reader.Next(&record)) {
      case zel::trace::TraceFileReader::Result::kRecord:
        std::printf("%s\n", zeltrace::FormatRecord(record).c_str());
        continue;
      case zel::trace::TraceFileReader::Result::kEnd:
        return 0;
      case zel::trace::TraceFileReader::Result::kDamaged:
        std::fflush(stdout);
        return Fail(path + ": damaged trace file: " + reader.error());
      case zel::trace::TraceFileReader::Result::kReadFailed:
        std::fflush(stdout);
        return Fail("cannot read " + path + ": " + std::strerror(readError) + " (" +
                    reader.error() + ")");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h" || (i == 1 && argument == "help")) {
      std::printf("%s", kUsage);
      return 0;
    }
  }
  if (argc < 2) return Fail(std::string("no command\n") + kUsage);
  const std::string command = argv[1];
  if (command == "dump") {
    if (argc != 3) return Fail(std::string("dump takes one file\n") + kUsage);
    return Dump(argv[2]);
  }
  if (command != "enable" && command != "disable" && command != "status") {
    return Fail("unknown command " + command + "\n" + kUsage);
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
      if (!ParseLevel(value, &options.level)) return Fail("--level takes 0 to 255, not " + value);
    } else {
      return Fail("unknown option " + option + "\n" + kUsage);
    }
  }
  if (options.control.empty()) return Fail("no control file: --control FILE or $ZEL_TRACE_CONTROL");
  if (command == "enable") return Enable(options);
  if (command == "disable") return Disable(options);
  return Status(options);
}
