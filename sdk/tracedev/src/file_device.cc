// The portable trace device: the control block lives in a shared control file, and records are
// appended to the trace file that the control file names.
//
// Sites read the control block through a shared mapping of the control file, without a call,
// so a tool's change reaches running processes at once. The file is checked (a regular file of
// the right size holding a control file for this component) before it is mapped. Two guards
// keep a later damage from hurting the process: a record is sent only while the mapping still
// holds a control file, and a read of the mapping after someone shrank the file (which the
// system answers with SIGBUS) replaces the mapping with zeros. Either way the logger reads 0
// from then on: tracing is off, and the process goes on.
#if !defined(_WIN32)

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zel/runtime/wire.h"
#include "zel/tracedev/device.h"
#include "zel/tracedev/files.h"

namespace zel::trace {
namespace {

// The mapping the bus-error handler may replace; 0 bytes while there is none.
std::atomic<uintptr_t> g_guardedStart{0};
std::atomic<std::size_t> g_guardedBytes{0};
struct sigaction g_previousBusHandler {};
std::atomic<bool> g_busHandlerInstalled{false};

// Replaces the guarded mapping with private zero pages at the same address, so every read
// there (the sites' included) answers 0 from now on. Only system calls: safe in a handler.
bool ZeroGuardedMapping() {
  const uintptr_t start = g_guardedStart.load();
  const std::size_t bytes = g_guardedBytes.load();
  if (bytes == 0) return false;
  void* zeros = ::mmap(reinterpret_cast<void*>(start), bytes, PROT_READ,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
  return zeros != MAP_FAILED;
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
  const uintptr_t start = g_guardedStart.load();
  if (address >= start && address - start < g_guardedBytes.load() && ZeroGuardedMapping()) {
    return;  // the faulting read runs again and finds zeros
  }
  // Not ours: what the process had before.
  if ((g_previousBusHandler.sa_flags & SA_SIGINFO) != 0 &&
      g_previousBusHandler.sa_sigaction != nullptr) {
    g_previousBusHandler.sa_sigaction(signal, info, context);
  } else if (g_previousBusHandler.sa_handler != SIG_DFL &&
             g_previousBusHandler.sa_handler != SIG_IGN) {
    g_previousBusHandler.sa_handler(signal);
  } else {
    ::sigaction(SIGBUS, &g_previousBusHandler, nullptr);
    ::raise(signal);  // delivered once this handler returns, with the default action
  }
}

// Installed once, when the first control file is mapped; kept for the process, like the mapping.
void InstallBusErrorGuard() {
  if (g_busHandlerInstalled.exchange(true)) return;
  struct sigaction guard {};
  guard.sa_sigaction = OnBusError;
  guard.sa_flags = SA_SIGINFO;
  sigemptyset(&guard.sa_mask);
  ::sigaction(SIGBUS, &guard, &g_previousBusHandler);
}

class FileDevice final : public TraceDevice {
 public:
  void setControlPath(std::string path) { controlPath_ = std::move(path); }

  const ControlBlock* Register(const RegistrationRecord& registration) override {
    if (registration.componentName == nullptr) return nullptr;
    ControlSettings settings;
    if (!map(registration.componentName, &settings)) return nullptr;
    traceFd_ = ::open(settings.tracePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (traceFd_ < 0) return nullptr;
    return &control_->control;
  }

  void Send(const TraceRecord& record) override {
    if (traceFd_ < 0 || control_ == nullptr) return;
    if (!HoldsControlFile(*control_)) {
      ZeroGuardedMapping();  // damaged in place: tracing off for good
      return;
    }
    uint8_t buffer[kMaxFileRecordBytes];
    const std::size_t size = encode(record, buffer);
    if (size != 0) {
      // One write per record: O_APPEND keeps records of several processes whole.
      [[maybe_unused]] const ssize_t written = ::write(traceFd_, buffer, size);
    }
  }

  void Close() override {
    if (control_ != nullptr) {
      g_guardedBytes.store(0);
      g_guardedStart.store(0);
      ::munmap(const_cast<ControlFile*>(control_), sizeof(ControlFile));
    }
    control_ = nullptr;
    if (traceFd_ >= 0) ::close(traceFd_);
    traceFd_ = -1;
  }

 private:
  // Maps the control file once it is known to be one for `component`; its settings.
  bool map(std::u16string_view component, ControlSettings* settings) {
    const int fd = ::open(controlPath_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat info {};
    uint8_t bytes[kControlFileBytes];
    void* mapped = MAP_FAILED;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<uint64_t>(info.st_size) == kControlFileBytes &&
        ::pread(fd, bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes) &&
        DecodeControlFile(bytes, sizeof bytes, settings).empty() &&
        settings->component == component) {
      mapped = ::mmap(nullptr, kControlFileBytes, PROT_READ, MAP_SHARED, fd, 0);
    }
    ::close(fd);
    if (mapped == MAP_FAILED) return false;
    control_ = static_cast<const ControlFile*>(mapped);
    g_guardedStart.store(reinterpret_cast<uintptr_t>(mapped));
    g_guardedBytes.store(kControlFileBytes);
    InstallBusErrorGuard();
    // The file may have changed between the check and the mapping.
    return HoldsControlFile(*control_);
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
    std::size_t at = kFixedRecordBytes;
    for (std::size_t i = 1; i <= arguments; ++i) {
      const Descriptor& field = record.fields[i];
      if (field.length > kMaxArgumentBytes || at + 4 + field.length > kMaxFileRecordBytes) {
        return 0;
      }
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
