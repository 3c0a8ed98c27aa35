// The portable device's two files.
//
// Control file (written by a control tool, mapped shared and read-only by every traced
// process, so a change takes effect at once):
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
// All integers little-endian. The bytes are the ones the descriptors pointed at: addresses mean
// nothing outside the process that traced.
#pragma once

#include <cstdint>
#include <string>
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

// What a control tool sets.
struct ControlSettings {
  std::u16string component;
  std::string tracePath;
  uint64_t logger = 0;  // 0 switches every site off
  uint8_t flags = 0;
  uint8_t level = 0;
};

// Writes (creating or replacing in place) a control file; empty string on success, else why.
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

// Encodes one record as the file holds it.
ZEL_TRACEDEV_API std::vector<uint8_t> EncodeFileRecord(const FileRecord& record);
// Decodes the records of a trace file's bytes. A damaged or cut record ends the decoding;
// *damaged (when given) says whether that happened.
ZEL_TRACEDEV_API std::vector<FileRecord> DecodeTraceFile(const std::vector<uint8_t>& bytes,
                                                         bool* damaged = nullptr);

}  // namespace zel::trace
