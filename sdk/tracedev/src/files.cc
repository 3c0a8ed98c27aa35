#include "zel/tracedev/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "zel/runtime/wire.h"

namespace zel::trace {
namespace {

using zel::wire::Load;
using zel::wire::Store;

// Opening never blocks (a FIFO named as a control file would hang the opener) and never makes
// a terminal the controlling one; a file that is not a regular file is refused after fstat.
#if defined(_WIN32)
constexpr int kOpenFlags = O_BINARY;
#else
constexpr int kOpenFlags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
#endif

// A file descriptor closed when it goes out of scope.
class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string Why(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Reads up to `size` bytes from the start of `fd`; how many, or -1.
long ReadAll(int fd, uint8_t* out, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const auto n = ::read(fd, out + got, static_cast<unsigned>(size - got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<long>(got);
}

bool WriteAll(int fd, const uint8_t* bytes, std::size_t size) {
  std::size_t put = 0;
  while (put < size) {
    const auto n = ::write(fd, bytes + put, static_cast<unsigned>(size - put));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    put += static_cast<std::size_t>(n);
  }
  return true;
}

// The settings of the control file open on `fd`: empty string, else why it is not one.
std::string ReadControlFrom(int fd, const std::string& path, ControlSettings* settings) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return Why("cannot examine", path);
  if (!S_ISREG(info.st_mode)) return path + " is not a trace control file (not a regular file)";
  if (static_cast<uint64_t>(info.st_size) != kControlFileBytes) {
    return path + " is not a trace control file (" + std::to_string(info.st_size) +
           " bytes, a control file has " + std::to_string(kControlFileBytes) + ")";
  }
  uint8_t bytes[kControlFileBytes + 1];  // one more: a file that grew meanwhile is refused
  const long got = ReadAll(fd, bytes, sizeof bytes);
  if (got < 0) return Why("cannot read", path);
  const std::string why = DecodeControlFile(bytes, static_cast<std::size_t>(got), settings);
  return why.empty() ? why : path + " is not a trace control file (" + why + ")";
}

void StoreGuid(uint8_t* out, const Guid& guid) {
  Store(out, guid.data1);
  Store(out + 4, guid.data2);
  Store(out + 6, guid.data3);
  std::memcpy(out + 8, guid.data4, 8);
}

Guid LoadGuid(const uint8_t* in) {
  Guid guid;
  guid.data1 = Load<uint32_t>(in);
  guid.data2 = Load<uint16_t>(in + 4);
  guid.data3 = Load<uint16_t>(in + 6);
  std::memcpy(guid.data4, in + 8, 8);
  return guid;
}

}  // namespace

std::string EncodeControlFile(const ControlSettings& settings, ControlFile* file) {
  if (settings.component.size() >= std::size(file->component)) return "component name too long";
  if (settings.tracePath.size() >= sizeof file->tracePath) return "trace path too long";
  *file = ControlFile{};
  std::memcpy(file->magic, kControlMagic, sizeof file->magic);
  file->version = kControlFileVersion;
  file->control.logger = settings.logger;
  file->control.flags = settings.flags;
  file->control.level = settings.level;
  std::memcpy(file->component, settings.component.data(), settings.component.size() * 2);
  std::memcpy(file->tracePath, settings.tracePath.data(), settings.tracePath.size());
  return "";
}

std::string DecodeControlFile(const uint8_t* bytes, std::size_t size, ControlSettings* settings) {
  if (size != kControlFileBytes) return "not " + std::to_string(kControlFileBytes) + " bytes";
  ControlFile file;
  std::memcpy(&file, bytes, sizeof file);
  if (std::memcmp(file.magic, kControlMagic, sizeof file.magic) != 0) return "no magic";
  if (file.version != kControlFileVersion) return "unknown version";
  const std::u16string_view component(file.component, std::size(file.component));
  const std::string_view tracePath(file.tracePath, sizeof file.tracePath);
  if (component.find(u'\0') == component.npos) return "component name not terminated";
  if (tracePath.find('\0') == tracePath.npos) return "trace path not terminated";
  settings->component = component.substr(0, component.find(u'\0'));
  settings->tracePath = tracePath.substr(0, tracePath.find('\0'));
  settings->logger = file.control.logger;
  settings->flags = file.control.flags;
  settings->level = file.control.level;
  return "";
}

bool HoldsControlFile(const ControlFile& file) {
  return std::memcmp(file.magic, kControlMagic, sizeof file.magic) == 0 &&
         file.version == kControlFileVersion;
}

std::string WriteControlFile(const std::string& path, const ControlSettings& settings) {
  ControlFile file;
  std::string why = EncodeControlFile(settings, &file);
  if (!why.empty()) return why;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&file);
  OpenFile existing(::open(path.c_str(), O_RDWR | kOpenFlags));
  if (existing.get() >= 0) {
    // Rewritten in place (not replaced), so processes that mapped it see the change; checked
    // through the same descriptor that writes, so what is checked is what is written.
    ControlSettings old;
    why = ReadControlFrom(existing.get(), path, &old);
    if (!why.empty()) return why + "; left as it was";
    if (::lseek(existing.get(), 0, SEEK_SET) != 0 ||
        !WriteAll(existing.get(), bytes, sizeof file)) {
      return Why("cannot write", path);
    }
    return "";
  }
  if (errno != ENOENT) return Why("cannot open", path);
  // Exclusive creation: a file (or a link) that appears meanwhile is never written through.
  OpenFile created(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, 0644));
  if (created.get() < 0) return Why("cannot create", path);
  if (!WriteAll(created.get(), bytes, sizeof file)) {
    why = Why("cannot write", path);
    ::unlink(path.c_str());  // ours, and incomplete
    return why;
  }
  return "";
}

std::string ReadControlFile(const std::string& path, ControlSettings* settings) {
  OpenFile in(::open(path.c_str(), O_RDONLY | kOpenFlags));
  if (in.get() < 0) return Why("cannot open", path);
  return ReadControlFrom(in.get(), path, settings);
}

std::vector<uint8_t> EncodeFileRecord(const FileRecord& record) {
  std::size_t size = kFixedRecordBytes;
  for (const auto& argument : record.arguments) size += 4 + argument.size();
  std::vector<uint8_t> out(size);
  uint8_t* p = out.data();
  Store(p, kTraceRecordMagic);
  Store(p + 4, static_cast<uint32_t>(size));
  Store(p + 8, record.sequence);
  Store(p + 16, record.timeNs);
  Store(p + 24, record.processID);
  StoreGuid(p + 28, record.guid);
  Store(p + 44, record.messageNumber);
  Store(p + 46, static_cast<uint16_t>(record.arguments.size()));
  p += kFixedRecordBytes;
  for (const auto& argument : record.arguments) {
    Store(p, static_cast<uint32_t>(argument.size()));
    if (!argument.empty()) std::memcpy(p + 4, argument.data(), argument.size());
    p += 4 + argument.size();
  }
  return out;
}

TraceFileReader::TraceFileReader(Source source) : source_(std::move(source)) {
  record_.reserve(kMaxFileRecordBytes);
}

TraceFileReader::Result TraceFileReader::Fail(Result result, const std::string& why) {
  failure_ = result;
  error_ = why + " at offset " + std::to_string(offset_);
  return result;
}

long TraceFileReader::ReadFully(uint8_t* out, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const long n = source_(out + got, size - got);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<long>(got);
}

TraceFileReader::Result TraceFileReader::Next(FileRecord* record) {
  if (!error_.empty()) return failure_;
  record_.resize(kFixedRecordBytes);
  long got = ReadFully(record_.data(), kFixedRecordBytes);
  if (got < 0) return Fail(Result::kReadFailed, "read failed");
  if (got == 0) return Result::kEnd;
  if (static_cast<std::size_t>(got) < kFixedRecordBytes) {
    return Fail(Result::kDamaged, "record cut short");
  }
  const uint8_t* p = record_.data();
  if (Load<uint32_t>(p) != kTraceRecordMagic) return Fail(Result::kDamaged, "no record starts");
  // The size is checked before anything is read for it: a hostile one takes no memory.
  const uint32_t size = Load<uint32_t>(p + 4);
  if (size < kFixedRecordBytes || size > kMaxFileRecordBytes) {
    return Fail(Result::kDamaged, "record claims " + std::to_string(size) +
                                      " bytes (records hold " + std::to_string(kFixedRecordBytes) +
                                      " to " + std::to_string(kMaxFileRecordBytes) + ")");
  }
  record_.resize(size);
  const std::size_t rest = size - kFixedRecordBytes;
  got = ReadFully(record_.data() + kFixedRecordBytes, rest);
  if (got < 0) return Fail(Result::kReadFailed, "read failed");
  if (static_cast<std::size_t>(got) < rest) return Fail(Result::kDamaged, "record cut short");

  p = record_.data();
  const uint16_t count = Load<uint16_t>(p + 46);
  if (count > rest / 4) return Fail(Result::kDamaged, "record claims too many arguments");
  FileRecord decoded;
  decoded.sequence = Load<uint64_t>(p + 8);
  decoded.timeNs = Load<uint64_t>(p + 16);
  decoded.processID = Load<uint32_t>(p + 24);
  decoded.guid = LoadGuid(p + 28);
  decoded.messageNumber = Load<uint16_t>(p + 44);
  decoded.arguments.reserve(count);
  std::size_t at = kFixedRecordBytes;
  for (uint16_t i = 0; i < count; ++i) {
    if (size - at < 4 || Load<uint32_t>(p + at) > size - at - 4) {
      return Fail(Result::kDamaged, "argument runs past its record");
    }
    const uint32_t length = Load<uint32_t>(p + at);
    decoded.arguments.emplace_back(p + at + 4, p + at + 4 + length);
    at += 4 + length;
  }
  if (at != size) return Fail(Result::kDamaged, "record has bytes after its arguments");
  *record = std::move(decoded);
  offset_ += size;
  return Result::kRecord;
}

std::vector<FileRecord> DecodeTraceFile(const std::vector<uint8_t>& bytes, bool* damaged) {
  std::size_t at = 0;
  TraceFileReader reader([&](uint8_t* out, std::size_t size) {
    const std::size_t n = std::min(size, bytes.size() - at);
    if (n != 0) std::memcpy(out, bytes.data() + at, n);
    at += n;
    return static_cast<long>(n);
  });
  std::vector<FileRecord> records;
  FileRecord record;
  TraceFileReader::Result result;
  while ((result = reader.Next(&record)) == TraceFileReader::Result::kRecord) {
    records.push_back(std::move(record));
  }
  if (damaged != nullptr) *damaged = result != TraceFileReader::Result::kEnd;
  return records;
}

}  // namespace zel::trace
