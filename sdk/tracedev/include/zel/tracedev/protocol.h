// The trace device protocol: what a trace provider and its device share. The control block is
// the device's memory, only read by the provider; records use the layout of a traced-GUID event
// header (48 bytes) followed by 16-byte argument descriptors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel::trace {

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16);

// Shared with the device; the device may change it at any time.
struct alignas(8) ControlBlock {
  uint64_t logger;      // 0: no logger attached, every site silent
  uint8_t flags;        // bit n: the n-th flag name is enabled
  uint8_t reserved[6];  //
  uint8_t level;        // sites emit when their level is at most this
};
static_assert(sizeof(ControlBlock) == 16);
static_assert(offsetof(ControlBlock, logger) == 0);
static_assert(offsetof(ControlBlock, flags) == 8);
static_assert(offsetof(ControlBlock, level) == 15);

// What a provider registers: only the first two pointers reach the device.
struct RegistrationRecord {
  const Guid* controlGuid;
  const char16_t* componentName;
  const char16_t* flagNames;
};

struct TraceHeader {
  uint16_t size;            // bytes of header and descriptors
  uint16_t fieldTypeFlags;  // 0
  uint8_t classType;        // kClassType
  uint8_t classLevel;       // 0
  uint16_t classVersion;    // 0
  uint64_t logger;          // from the control block
  uint64_t timeStamp;       // 0: the device stamps
  uint64_t guidAddress;     // address of the message GUID, widened to 64 bits
  uint64_t guidRest;        // 0
  uint32_t clientContext;   // 0
  uint32_t flags;           // kHeaderFlags
};
static_assert(sizeof(TraceHeader) == 48);
static_assert(offsetof(TraceHeader, classType) == 4);
static_assert(offsetof(TraceHeader, logger) == 8);
static_assert(offsetof(TraceHeader, timeStamp) == 16);
static_assert(offsetof(TraceHeader, guidAddress) == 24);
static_assert(offsetof(TraceHeader, guidRest) == 32);
static_assert(offsetof(TraceHeader, clientContext) == 40);
static_assert(offsetof(TraceHeader, flags) == 44);

struct Descriptor {
  uint64_t address;  // widened like the GUID address
  uint32_t length;   // bytes
  uint32_t type;     // 0
};
static_assert(sizeof(Descriptor) == 16);

// Header, descriptor 0 (the message number) and up to eight argument descriptors.
struct TraceRecord {
  TraceHeader header;
  Descriptor fields[9];
};
static_assert(sizeof(TraceRecord) == 192);
static_assert(offsetof(TraceRecord, fields) == 48);

inline constexpr uint8_t kClassType = 0xFF;
// Traced GUID, GUID given by pointer, arguments given by pointer.
inline constexpr uint32_t kHeaderFlags = 0x001A0000;
inline constexpr uint32_t kMaxArgumentBytes = 8192;
inline constexpr uint32_t kMaxDescribedArguments = 8;
// Emit statuses.
inline constexpr uint32_t kStatusOk = 0;
inline constexpr uint32_t kStatusTooLarge = 0xC0000001;
inline constexpr uint32_t kStatusNoMemory = 0xC0000017;

// Flag bits the library tests.
inline constexpr uint8_t kFlagError = 0x01;
inline constexpr uint8_t kFlagInfo = 0x02;
inline constexpr uint8_t kFlagEntry = 0x08;

// A 32-bit address widened to 64 bits by sign extension, as 32-bit builds carry addresses.
constexpr uint64_t WidenAddress32(uint32_t address) {
  return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(address)));
}

// An address as records carry it: as it is on 64-bit builds; sign-extended from 32 bits on
// 32-bit builds.
inline uint64_t WidenAddress(const void* address) {
  const auto value = reinterpret_cast<uintptr_t>(address);
  if constexpr (sizeof(void*) == 4) {
    return WidenAddress32(static_cast<uint32_t>(value));
  } else {
    return static_cast<uint64_t>(value);
  }
}

// The inverse, for a device in the same process as the record's maker.
inline const void* AddressOf(uint64_t widened) {
  return reinterpret_cast<const void*>(static_cast<uintptr_t>(widened));
}

// The Windows driver's device name and control codes.
inline constexpr const char16_t* kWindowsDeviceName = u"\\\\.\\Global\\KDXQDL";
inline constexpr uint32_t kIoctlRegister = 0x00222007;
inline constexpr uint32_t kIoctlRecord = 0x0022200F;

}  // namespace zel::trace
