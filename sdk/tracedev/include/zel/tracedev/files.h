// The portable device's two files.
//
// Control file (written by a control tool, mapped shared and read-only by every traced
// process, so a change takes effect at once); exactly kControlFileBytes long:
//   offset   0  char[8]      "ZELTRCTL"
//   offset   8  uint32       kControlFileVersion
//   offset  12  uint32       0
//   offset  16  ControlBlock (logger, flags, level)
//   offset  32  char16[64]   component name the control applies to, NUL-terminated
//   offset 160  char[4096]   path of the trace file (UTF-8), NUL-terminated
//
// Trace file: records appended one after another, each written whole with one append:
//   uint32 magic "ZTRC" | uint32 recordBytes (all of the record) | uint64 sequence (per process)
//   | uint64 time (ns since the epoch) | uint32 process ID | Guid message GUID
//   | uint16 message number | uint16 argument count | per argument: uint32 length, bytes
// A record holds at most kMaxFileRecordBytes: eight described arguments (or one block) of at
// most kMaxArgumentBytes together. All integers little-endian. The bytes are the ones the
// descriptors pointed at: addresses mean nothing outside the process that traced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "zel/tracedev/export.h"
#include "zel/tracedev/protocol.h"

namespace zel::trace {

inline constexpr char kControlMagic[8] = {'Z', 'E', 'L', 'T', 'R', 'C', 'T', 'L'};
inline constexpr uint32_t kControlFileVersion = 1;
inline constexpr uint32_t kTraceRecordMagic = 0x4352545A;  // "ZTRC"

struct ControlFile {
  char magic[8];
  uint32_t version;
  uint32_t reserved;
  ControlBlock control;
  char16_t component[64];
  char tracePath[4096];
};
static_assert(offsetof(ControlFile, control) == 16);
static_assert(offsetof(ControlFile, component) == 32);
static_assert(offsetof(ControlFile, tracePath) == 160);
inline constexpr std::size_t kControlFileBytes = sizeof(ControlFile);
static_assert(kControlFileBytes == 4256);

// What a control tool sets.
struct ControlSettings {
  std::u16string component;
  std::string tracePath;
  uint64_t logger = 0;  // 0 switches every site off
  uint8_t flags = 0;
  uint8_t level = 0;
};

// The control file of `settings`; empty string on success, else why (a name too long).
ZEL_TRACEDEV_API std::string EncodeControlFile(const ControlSettings& settings, ControlFile* file);
// The settings held by `size` bytes read from a control file; empty string when they are a
// whole control file (size, magic, version, terminated names), else why not. Every device
// checks a file with it before it maps the file.
ZEL_TRACEDEV_API std::string DecodeControlFile(const uint8_t* bytes, std::size_t size,
                                               ControlSettings* settings);
// Whether a mapped control file still is one: what a device checks before it uses a record.
ZEL_TRACEDEV_API bool HoldsControlFile(const ControlFile& file);

// Writes a control file. A new file is created exclusively; an existing one is rewritten in
// place (processes that mapped it see the change) only when it is a control file already:
// anything else is left as it was. Empty string on success, else why.
ZEL_TRACEDEV_API std::string WriteControlFile(const std::string& path,
                                              const ControlSettings& settings);
// Reads a control file's settings; empty string on success, else why.
ZEL_TRACEDEV_API std::string ReadControlFile(const std::string& path, ControlSettings* settings);

struct FileRecord {
  uint64_t sequence = 0;
  uint64_t timeNs = 0;
  uint32_t processID = 0;
  Guid guid{};
  uint16_t messageNumber = 0;
  std::vector<std::vector<uint8_t>> arguments;
};

inline constexpr std::size_t kFixedRecordBytes = 48;
inline constexpr std::size_t kMaxFileRecordBytes =
    kFixedRecordBytes + kMaxDescribedArguments * 4 + kMaxArgumentBytes;

// Encodes one record as the file holds it.
ZEL_TRACEDEV_API std::vector<uint8_t> EncodeFileRecord(const FileRecord& record);

// Reads a trace file record by record, holding one record at a time, so a file of any size (or
// an endless stream) takes bounded memory.
class ZEL_TRACEDEV_API TraceFileReader {
 public:
  // Fills up to `size` bytes; answers how many (0 at the end of the input), or -1 when the
  // input cannot be read.
  using Source = std::function<long(uint8_t* out, std::size_t size)>;
  explicit TraceFileReader(Source source);

  enum class Result { kRecord, kEnd, kDamaged, kReadFailed };
  // The next record into *record (kRecord); kEnd at the end of the input; after kDamaged or
  // kReadFailed, error() says what and where, and every later call answers the same.
  Result Next(FileRecord* record);
  const std::string& error() const { return error_; }
  // Bytes of whole records read so far: where the next record starts.
  uint64_t offset() const { return offset_; }

 private:
  Result Fail(Result result, const std::string& why);
  // Reads exactly `size` bytes unless the input ends or fails; how many, or -1.
  long ReadFully(uint8_t* out, std::size_t size);

  Source source_;
  uint64_t offset_ = 0;
  Result failure_ = Result::kEnd;
  std::string error_;
  std::vector<uint8_t> record_;  // the current record, at most kMaxFileRecordBytes
};

// Decodes the records of a trace file's bytes. A damaged or cut record ends the decoding;
// *damaged (when given) says whether that happened.
ZEL_TRACEDEV_API std::vector<FileRecord> DecodeTraceFile(const std::vector<uint8_t>& bytes,
                                                         bool* damaged = nullptr);

}  // namespace zel::trace
