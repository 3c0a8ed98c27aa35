// The file device on Windows: the control file is a copy-on-write view of a file mapping, so a
// control tool's change shows at once, and records are appended to the trace file that the
// control file names. The files are the ones the POSIX file device uses (zel/tracedev/files.h).
#if defined(_WIN32)

#include "windows_file_device.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "zel/tracedev/files.h"

namespace zel::trace {
namespace {

std::wstring Widen(const char* text, UINT codePage) {
  const int length = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

uint64_t NanosecondsSinceEpoch() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  // 100 ns units since 1601-01-01; the epoch is 11,644,473,600 s later.
  const uint64_t ticks = uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime;
  return (ticks - 116444736000000000u) * 100u;
}

// Sharing that lets a control tool rewrite, and other processes append, while we hold them.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class WindowsFileDevice final : public TraceDevice {
 public:
  void setControlPath(std::string path) { controlPath_ = std::move(path); }

  const ControlBlock* Register(const RegistrationRecord& registration) override {
    if (registration.componentName == nullptr) return nullptr;
    // The environment's text is in the ANSI code page. Opening a folder (no backup semantics)
    // fails, so only a file gets further.
    HANDLE file = CreateFileW(Widen(controlPath_.c_str(), CP_ACP).c_str(), GENERIC_READ, kShareAll,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size{};
    HANDLE mapping = nullptr;
    if (GetFileSizeEx(file, &size) && size.QuadPart == LONGLONG{kControlFileBytes}) {
      mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    }
    CloseHandle(file);
    if (mapping == nullptr) return nullptr;
    // The view keeps the mapping (and the file) for as long as it exists. While it does, the
    // file cannot be made shorter than the view: a control file cannot shrink under a reader.
    // A copy-on-write view shows the file's pages (a tool's change at once) until this process
    // writes one: only switchOff does, and from then on the page is this process's own.
    control_ =
        static_cast<ControlFile*>(MapViewOfFile(mapping, FILE_MAP_COPY, 0, 0, kControlFileBytes));
    CloseHandle(mapping);
    if (control_ == nullptr) return nullptr;
    ControlSettings settings;
    if (!DecodeControlFile(reinterpret_cast<const uint8_t*>(control_), kControlFileBytes, &settings)
             .empty() ||
        settings.component != registration.componentName) {
      return nullptr;
    }
    // Append-only access: every write lands whole at the end, records of several processes
    // stay apart.
    trace_ = CreateFileW(Widen(settings.tracePath.c_str(), CP_UTF8).c_str(), FILE_APPEND_DATA,
                         kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (trace_ == INVALID_HANDLE_VALUE) return nullptr;
    return &control_->control;
  }

  void Send(const TraceRecord& record) override {
    // A control file overwritten in place (no longer one) ends tracing for good.
    if (trace_ == INVALID_HANDLE_VALUE || control_ == nullptr) return;
    if (!HoldsControlFile(*control_)) {
      switchOff();
      return;
    }
    try {
      FileRecord file;
      if (!describe(record, &file)) return;
      const std::vector<uint8_t> bytes = EncodeFileRecord(file);
      DWORD written = 0;
      WriteFile(trace_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    } catch (const std::exception&) {
      // A record that cannot be built without storage is dropped; tracing never fails a call.
    }
  }

  void Close() override {
    if (control_ != nullptr) UnmapViewOfFile(control_);
    control_ = nullptr;
    if (trace_ != INVALID_HANDLE_VALUE) CloseHandle(trace_);
    trace_ = INVALID_HANDLE_VALUE;
  }

 private:
  // The sites read a logger of 0 from now on; the file is not touched.
  void switchOff() { __atomic_store_n(&control_->control.logger, uint64_t{0}, __ATOMIC_RELAXED); }

  // The file form's fields of `record`; false when the record is malformed. A header of 80
  // bytes carries one block over more than eight arguments; otherwise 16 bytes per argument
  // follow the 64 of the header and message number.
  bool describe(const TraceRecord& record, FileRecord* file) {
    const uint16_t size = record.header.size;
    std::size_t arguments;
    if (size == 80) {
      arguments = 1;
    } else if (size >= 64 && size <= 192 && size % 16 == 0) {
      arguments = size / 16 - 4;
    } else {
      return false;
    }
    file->arguments.reserve(arguments);
    for (std::size_t i = 1; i <= arguments; ++i) {
      const Descriptor& field = record.fields[i];
      if (field.length > kMaxArgumentBytes) return false;
      const auto* bytes = static_cast<const uint8_t*>(AddressOf(field.address));
      file->arguments.emplace_back(bytes, bytes + field.length);
    }
    file->sequence = sequence_.fetch_add(1) + 1;
    file->timeNs = NanosecondsSinceEpoch();
    file->processID = GetCurrentProcessId();
    file->guid = *static_cast<const Guid*>(AddressOf(record.header.guidAddress));
    std::memcpy(&file->messageNumber, AddressOf(record.fields[0].address),
                sizeof file->messageNumber);
    return true;
  }

  std::string controlPath_;
  ControlFile* control_ = nullptr;
  HANDLE trace_ = INVALID_HANDLE_VALUE;
  std::atomic<uint64_t> sequence_{0};
};

}  // namespace

TraceDevice* OpenWindowsFileDevice() {
  const char* controlPath = std::getenv(kControlFileVariable);
  if (controlPath == nullptr || *controlPath == '\0') return nullptr;
  static WindowsFileDevice device;  // lives for the process, like an opened driver
  device.setControlPath(controlPath);
  return &device;
}

}  // namespace zel::trace

#endif  // _WIN32
