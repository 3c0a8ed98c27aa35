// Event buffers: the writer base ZEL_BUF_BinBuffer, the events ZEL_BUF_EventBuffer and
// ZEL_BUF_EventBuffer2, and the exceptions of writing and reading. The payload encoding is the
// one zel/runtime/wire.h describes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <string_view>

#include "zel/runtime/alloc.h"
#include "zel/runtime/export.h"
#include "zel/runtime/strings.h"

// An append could not be made (no storage, or past the event's maximum size).
class ZEL_RUNTIME_API ZEL_BUF_AppendException : public std::exception {
 public:
  explicit ZEL_BUF_AppendException(int32_t code) : code_(code) {}
  int32_t code() const { return code_; }
  const char* what() const noexcept override;

 private:
  int32_t code_;
};

// A read could not deliver its value: the buffer ends before it, its bytes are not a well-formed
// value, or the storage for a new string could not be had.
class ZEL_RUNTIME_API ZEL_BUF_ReadException : public std::exception {
 public:
  enum class Reason : uint8_t { kShort, kMalformed, kNoMemory };
  explicit ZEL_BUF_ReadException(Reason reason) : reason_(reason) {}
  Reason reason() const { return reason_; }
  const char* what() const noexcept override;

 private:
  Reason reason_;
};

// The writer: a growable byte buffer with the write operators of the wire encoding.
// Heap buffers and events take their storage through the allocation seam.
class ZEL_RUNTIME_API ZEL_BUF_BinBuffer : public zel::rt::SeamAllocated {
 public:
  static constexpr uint32_t kDefaultMaxSize = 4u << 20;  // 4 MiB

  // `sizeHint` sizes the storage taken at the first append; appending past it grows it.
  explicit ZEL_BUF_BinBuffer(uint32_t sizeHint = 0);
  ZEL_BUF_BinBuffer(const ZEL_BUF_BinBuffer&) = delete;
  ZEL_BUF_BinBuffer& operator=(const ZEL_BUF_BinBuffer&) = delete;
  virtual ~ZEL_BUF_BinBuffer();

  // Each throws ZEL_BUF_AppendException when the value cannot be appended; the buffer then holds
  // what it held before.
  ZEL_BUF_BinBuffer& operator<<(uint8_t value);
  ZEL_BUF_BinBuffer& operator<<(int16_t value);
  ZEL_BUF_BinBuffer& operator<<(uint16_t value);
  ZEL_BUF_BinBuffer& operator<<(int32_t value);
  ZEL_BUF_BinBuffer& operator<<(uint32_t value);
  ZEL_BUF_BinBuffer& operator<<(uint64_t value);
  ZEL_BUF_BinBuffer& operator<<(const char16_t* text);  // null: a null string
  ZEL_BUF_BinBuffer& operator<<(const ZELString& text);
  ZEL_BUF_BinBuffer& operator<<(const ZELMultiString& list);

  // Appends raw bytes; 0 on success, else a negative code and nothing appended.
  int32_t AppendBytes(const void* bytes, uint32_t length) noexcept;

  const uint8_t* GetData() const { return data_; }
  uint32_t GetSize() const { return size_; }
  uint32_t GetCapacity() const { return capacity_; }
  uint32_t GetSizeHint() const { return sizeHint_; }
  uint32_t GetMaxSize() const { return maxSize_; }
  // Lowers or raises the most this buffer may hold; never below what it already holds.
  void SetMaxSize(uint32_t maxSize);

 private:
  // Appends one string (its text stops at a NUL); throws ZEL_BUF_AppendException.
  void appendString(std::u16string_view units);
  // Checks and makes room for `length` more bytes; 0 or a negative code.
  int32_t prepareAppend(uint64_t length) noexcept;
  int32_t reserveFor(uint32_t extra) noexcept;

  uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
  uint32_t sizeHint_;
  uint32_t maxSize_ = kDefaultMaxSize;
};

// An event: a payload with its header (event ID, version, size hint, source and destination host
// IDs and subsystem UIDs). Events are created on the heap and released with delete.
class ZEL_RUNTIME_API ZEL_BUF_EventBuffer : public ZEL_BUF_BinBuffer {
 public:
  ZEL_BUF_EventBuffer(uint16_t eventID, ZELVersion version, uint32_t sizeHint);
  ~ZEL_BUF_EventBuffer() override;

  // Virtual operations in their fixed order, after the destructor.
  // Raw bytes; `reserved` must be null. 0 on success, else a negative code.
  virtual int32_t AppendData(const void* bytes, uint32_t length, void* reserved = nullptr);
  virtual void SetSrcHostID(uint32_t hostID);
  virtual void SetDestHostID(uint32_t hostID);
  virtual void SetSrcSubsystemUID(uint16_t uid);
  virtual void SetDestSubsystemUID(uint16_t uid);
  virtual uint16_t GetEventID() const;
  // A reply addressed back to this event's source: its source host and subsystem become the
  // reply's destination, its destination host the reply's source host, and `sourceUID` the
  // reply's source subsystem. 0 and the new reply in *reply, else a negative code and null.
  virtual int32_t CreateReplyEvent(ZEL_BUF_EventBuffer** reply, uint16_t replyEventID,
                                   ZELVersion version, uint16_t sourceUID, uint32_t sizeHint,
                                   void* reserved = nullptr) const;

  ZELVersion GetVersion() const { return version_; }
  uint32_t GetSrcHostID() const { return srcHostID_; }
  uint32_t GetDestHostID() const { return destHostID_; }
  uint16_t GetSrcSubsystemUID() const { return srcSubsystemUID_; }
  uint16_t GetDestSubsystemUID() const { return destSubsystemUID_; }

 private:
  uint16_t eventID_;
  ZELVersion version_;
  uint32_t srcHostID_ = 0;
  uint32_t destHostID_ = 0;
  uint16_t srcSubsystemUID_ = 0;
  uint16_t destSubsystemUID_ = 0;
};

// An event that also names the interface level of the operation that sent it.
class ZEL_RUNTIME_API ZEL_BUF_EventBuffer2 : public ZEL_BUF_EventBuffer {
 public:
  ZEL_BUF_EventBuffer2(uint16_t eventID, ZELVersion version, uint32_t sizeHint,
                       uint32_t interfaceLevel);
  ~ZEL_BUF_EventBuffer2() override;

  uint32_t GetInterfaceLevel() const { return interfaceLevel_; }
  void SetInterfaceLevel(uint32_t level) { interfaceLevel_ = level; }

 private:
  uint32_t interfaceLevel_;
};

namespace zel::rt {

// Events alive in the process (constructed and not yet destroyed).
ZEL_RUNTIME_API uint64_t LiveEventCount() noexcept;

// The seam through which a test host watches and disturbs event handling. At most one is
// installed; with none, events behave normally.
class EventHooks {
 public:
  // Asked before an event is created by CreateSALEvent2, CreateReplyEvent or
  // ZEL_PIF_SAL::CreateSALEvent; false makes the creation return nothing.
  virtual bool AllowCreate(uint16_t eventID) = 0;
  // Told of every event so created, before any payload is written.
  virtual void OnCreated(const ZEL_BUF_EventBuffer& event) = 0;
  // Asked before every append to any buffer; a negative code makes the append fail with it.
  virtual int32_t CheckAppend(const ZEL_BUF_BinBuffer& buffer, uint32_t length) = 0;

 protected:
  ~EventHooks() = default;
};
ZEL_RUNTIME_API void SetEventHooks(EventHooks* hooks) noexcept;
ZEL_RUNTIME_API EventHooks* GetEventHooks() noexcept;

}  // namespace zel::rt
