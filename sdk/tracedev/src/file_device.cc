// The portable trace device: the control block lives in a shared control file, and records are
// appended to the trace file that the control file names.
#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zel/runtime/wire.h"
#include "zel/tracedev/device.h"
#include "zel/tracedev/files.h"

namespace zel::trace {
namespace {

// Fixed part of a file record, then at most nine arguments and the argument bytes.
constexpr std::size_t kRecordBufferBytes = 48 + 9 * 4 + kMaxArgumentBytes + 64;

class FileDevice final : public TraceDevice {
 public:
  void setControlPath(std::string path) { controlPath_ = std::move(path); }

  const ControlBlock* Register(const RegistrationRecord& registration) override {
    const int fd = ::open(controlPath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    void* mapped = MAP_FAILED;
    if (::fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(sizeof(ControlFile))) {
      mapped = ::mmap(nullptr, sizeof(ControlFile), PROT_READ, MAP_SHARED, fd, 0);
    }
    ::close(fd);
    if (mapped == MAP_FAILED) return nullptr;
    control_ = static_cast<const ControlFile*>(mapped);
    if (!accepts(registration)) return nullptr;
    std::string tracePath(control_->tracePath, strnlen(control_->tracePath, 4096));
    traceFd_ = ::open(tracePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (traceFd_ < 0) return nullptr;
    return &control_->control;
  }

  void Send(const TraceRecord& record) override {
    if (traceFd_ < 0) return;
    uint8_t buffer[kRecordBufferBytes];
    const std::size_t size = encode(record, buffer);
    if (size != 0) {
      // One write per record: O_APPEND keeps records of several processes whole.
      [[maybe_unused]] const ssize_t written = ::write(traceFd_, buffer, size);
    }
  }

  void Close() override {
    if (control_ != nullptr) ::munmap(const_cast<ControlFile*>(control_), sizeof(ControlFile));
    control_ = nullptr;
    if (traceFd_ >= 0) ::close(traceFd_);
    traceFd_ = -1;
  }

 private:
  bool accepts(const RegistrationRecord& registration) const {
    if (std::memcmp(control_->magic, kControlMagic, sizeof kControlMagic) != 0 ||
        control_->version != kControlFileVersion || registration.componentName == nullptr) {
      return false;
    }
    const std::u16string_view wanted(registration.componentName);
    std::u16string_view named(control_->component, 64);
    named = named.substr(0, named.find(u'\0'));
    return named == wanted;
  }

  // The file form of `record` into `out`; its size, or 0 when the record is malformed.
  std::size_t encode(const TraceRecord& record, uint8_t* out) {
    using zel::wire::Store;
    const uint16_t size = record.header.size;
    std::size_t arguments;
    if (size == 80) {
      arguments = 1;  // one block over more than eight arguments
    } else if (size >= 64 && size <= 192 && size % 16 == 0) {
      arguments = size / 16 - 4;
    } else {
      return 0;
    }
    std::size_t at = 48;
    for (std::size_t i = 1; i <= arguments; ++i) {
      const Descriptor& field = record.fields[i];
      if (field.length > kMaxArgumentBytes || at + 4 + field.length > kRecordBufferBytes) return 0;
      Store(out + at, field.length);
      if (field.length != 0) std::memcpy(out + at + 4, AddressOf(field.address), field.length);
      at += 4 + field.length;
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto* guid = static_cast<const Guid*>(AddressOf(record.header.guidAddress));
    uint16_t number = 0;
    std::memcpy(&number, AddressOf(record.fields[0].address), sizeof number);
    Store(out, kTraceRecordMagic);
    Store(out + 4, static_cast<uint32_t>(at));
    Store(out + 8, sequence_.fetch_add(1) + 1);
    Store(out + 16, static_cast<uint64_t>(now.tv_sec) * 1000000000u + now.tv_nsec);
    Store(out + 24, static_cast<uint32_t>(::getpid()));
    Store(out + 28, guid->data1);
    Store(out + 32, guid->data2);
    Store(out + 34, guid->data3);
    std::memcpy(out + 36, guid->data4, 8);
    Store(out + 44, number);
    Store(out + 46, static_cast<uint16_t>(arguments));
    return at;
  }

  std::string controlPath_;
  const ControlFile* control_ = nullptr;
  int traceFd_ = -1;
  std::atomic<uint64_t> sequence_{0};
};

}  // namespace

TraceDevice* OpenPlatformDevice() {
  const char* controlPath = std::getenv(kControlFileVariable);
  if (controlPath == nullptr || *controlPath == '\0') return nullptr;
  static FileDevice device;  // lives for the process, like an opened driver
  device.setControlPath(controlPath);
  return &device;
}

}  // namespace zel::trace

#endif  // !_WIN32
