#include "zel/runtime/buffers.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "event_factory.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/codes.h"
#include "zel/runtime/wire.h"

namespace zel::rt {
namespace {

std::atomic<uint64_t> g_liveEvents{0};
std::atomic<EventHooks*> g_hooks{nullptr};

// The storage taken by the first append to a buffer without a size hint.
constexpr uint32_t kMinCapacity = 64;

}  // namespace

uint64_t LiveEventCount() noexcept { return g_liveEvents.load(std::memory_order_relaxed); }
void SetEventHooks(EventHooks* hooks) noexcept { g_hooks.store(hooks); }
EventHooks* GetEventHooks() noexcept { return g_hooks.load(std::memory_order_relaxed); }

ZEL_BUF_EventBuffer2* NewEvent(uint16_t eventID, ZELVersion version, uint32_t sizeHint,
                               uint32_t interfaceLevel) {
  EventHooks* hooks = GetEventHooks();
  if (hooks != nullptr && !hooks->AllowCreate(eventID)) return nullptr;
  auto* event = new (std::nothrow) ZEL_BUF_EventBuffer2(eventID, version, sizeHint, interfaceLevel);
  if (event != nullptr && hooks != nullptr) hooks->OnCreated(*event);
  return event;
}

}  // namespace zel::rt

const char* ZEL_BUF_AppendException::what() const noexcept {
  return code_ == zel::rt::kEventTooLarge ? "append past the buffer's maximum size"
                                          : "no storage for an append";
}

const char* ZEL_BUF_ReadException::what() const noexcept {
  switch (reason_) {
    case Reason::kShort:
      return "the buffer ends before the value";
    case Reason::kMalformed:
      return "the bytes are not a well-formed value";
    case Reason::kNoMemory:
      return "no storage for the value read";
  }
  return "read failed";
}

// --- ZEL_BUF_BinBuffer -----------------------------------------------------------------------

ZEL_BUF_BinBuffer::ZEL_BUF_BinBuffer(uint32_t sizeHint) : sizeHint_(sizeHint) {}

ZEL_BUF_BinBuffer::~ZEL_BUF_BinBuffer() { zel::rt::Free(data_); }

void ZEL_BUF_BinBuffer::SetMaxSize(uint32_t maxSize) { maxSize_ = std::max(maxSize, size_); }

int32_t ZEL_BUF_BinBuffer::reserveFor(uint32_t extra) noexcept {
  const uint64_t needed = static_cast<uint64_t>(size_) + extra;
  if (needed > maxSize_) return zel::rt::kEventTooLarge;
  if (needed <= capacity_) return zel::rt::kOk;
  // The first storage follows the hint (a small block when there is none); later growth
  // doubles, never past the maximum.
  uint64_t capacity = capacity_ != 0   ? 2 * static_cast<uint64_t>(capacity_)
                      : sizeHint_ != 0 ? sizeHint_
                                       : zel::rt::kMinCapacity;
  capacity = std::min<uint64_t>(std::max(capacity, needed), maxSize_);
  auto* grown = static_cast<uint8_t*>(zel::rt::Allocate(capacity));
  if (grown == nullptr) return zel::rt::kNoMemory;
  if (size_ != 0) std::memcpy(grown, data_, size_);
  zel::rt::Free(data_);
  data_ = grown;
  capacity_ = static_cast<uint32_t>(capacity);
  return zel::rt::kOk;
}

int32_t ZEL_BUF_BinBuffer::prepareAppend(uint64_t length) noexcept {
  if (length > maxSize_) return zel::rt::kEventTooLarge;
  if (zel::rt::EventHooks* hooks = zel::rt::GetEventHooks()) {
    const int32_t injected = hooks->CheckAppend(*this, static_cast<uint32_t>(length));
    if (injected < 0) return injected;
  }
  return reserveFor(static_cast<uint32_t>(length));
}

int32_t ZEL_BUF_BinBuffer::AppendBytes(const void* bytes, uint32_t length) noexcept {
  if (length != 0 && bytes == nullptr) return zel::rt::kInvalidArgument;
  const int32_t code = prepareAppend(length);
  if (code < 0) return code;
  if (length != 0) std::memcpy(data_ + size_, bytes, length);
  size_ += length;
  return zel::rt::kOk;
}

namespace {

template <typename T>
void AppendScalar(ZEL_BUF_BinBuffer& buffer, T value) {
  uint8_t bytes[sizeof(T)];
  zel::wire::Store(bytes, value);
  const int32_t code = buffer.AppendBytes(bytes, sizeof(T));
  if (code < 0) throw ZEL_BUF_AppendException(code);
}

}  // namespace

ZEL_BUF_BinBuffer& ZEL_BUF_BinBuffer::operator<<(uint8_t value) {
  AppendScalar(*this, value);
  return *this;
}
ZEL_BUF_BinBuffer& ZEL_BUF_BinBuffer::operator<<(int16_t value) {
  AppendScalar(*this, value);
  return *this;
}
ZEL_BUF_BinBuffer& ZEL_BUF_BinBuffer::operator<<(uint16_t value) {
  AppendScalar(*this, value);
  return *this;
}
ZEL_BUF_BinBuffer& ZEL_BUF_BinBuffer::operator<<(int32_t value) {
  AppendScalar(*this, value);
  return *this;
}
ZEL_BUF_BinBuffer& ZEL_BUF_BinBuffer::operator<<(uint32_t value) {
  AppendScalar(*this, value);
  return *this;
}
ZEL_BUF_BinBuffer& ZEL_BUF_BinBuffer::operator<<(uint64_t value) {
  AppendScalar(*this, value);
  return *this;
}

ZEL_BUF_BinBuffer& ZEL_BUF_BinBuffer::operator<<(const char16_t* text) {
  if (text == nullptr) return *this << zel::wire::kNullStringLength;
  appendString(std::u16string_view(text));
  return *this;
}

ZEL_BUF_BinBuffer& ZEL_BUF_BinBuffer::operator<<(const ZELString& text) {
  // The wire form ends a string at its terminator: a NUL inside would be read back as a
  // malformed string, so it is refused here, where the writer can still say so.
  if (text.hasInnerNul()) throw ZEL_BUF_AppendException(zel::rt::kInvalidArgument);
  appendString(text.view());
  return *this;
}

void ZEL_BUF_BinBuffer::appendString(std::u16string_view units) {
  // Prefix and body are written in place as one append, so a failure leaves no half string.
  const uint64_t wide = zel::wire::StringByteLength(units.size());
  if (wide > UINT32_MAX) throw ZEL_BUF_AppendException(zel::rt::kEventTooLarge);
  const auto byteLength = static_cast<uint32_t>(wide);
  const uint64_t total = zel::wire::kLengthPrefixSize + static_cast<uint64_t>(byteLength);
  const int32_t code = prepareAppend(total);
  if (code < 0) throw ZEL_BUF_AppendException(code);
  uint8_t* out = data_ + size_;
  zel::wire::Store(out, byteLength);
  out += zel::wire::kLengthPrefixSize;
  for (char16_t unit : units) {
    zel::wire::Store(out, static_cast<uint16_t>(unit));
    out += 2;
  }
  zel::wire::Store(out, uint16_t{0});
  size_ += static_cast<uint32_t>(total);
}

ZEL_BUF_BinBuffer& ZEL_BUF_BinBuffer::operator<<(const ZELMultiString& list) {
  *this << static_cast<uint32_t>(list.count());
  for (const ZELString& item : list.items()) *this << item;
  return *this;
}

// --- Events ----------------------------------------------------------------------------------

ZEL_BUF_EventBuffer::ZEL_BUF_EventBuffer(uint16_t eventID, ZELVersion version, uint32_t sizeHint)
    : ZEL_BUF_BinBuffer(sizeHint), eventID_(eventID), version_(version) {
  zel::rt::g_liveEvents.fetch_add(1, std::memory_order_relaxed);
}

ZEL_BUF_EventBuffer::~ZEL_BUF_EventBuffer() {
  zel::rt::g_liveEvents.fetch_sub(1, std::memory_order_relaxed);
}

int32_t ZEL_BUF_EventBuffer::AppendData(const void* bytes, uint32_t length, void* reserved) {
  if (reserved != nullptr) return zel::rt::kInvalidArgument;
  return AppendBytes(bytes, length);
}

void ZEL_BUF_EventBuffer::SetSrcHostID(uint32_t hostID) { srcHostID_ = hostID; }
void ZEL_BUF_EventBuffer::SetDestHostID(uint32_t hostID) { destHostID_ = hostID; }
void ZEL_BUF_EventBuffer::SetSrcSubsystemUID(uint16_t uid) { srcSubsystemUID_ = uid; }
void ZEL_BUF_EventBuffer::SetDestSubsystemUID(uint16_t uid) { destSubsystemUID_ = uid; }
uint16_t ZEL_BUF_EventBuffer::GetEventID() const { return eventID_; }

int32_t ZEL_BUF_EventBuffer::CreateReplyEvent(ZEL_BUF_EventBuffer** reply, uint16_t replyEventID,
                                              ZELVersion version, uint16_t sourceUID,
                                              uint32_t sizeHint, void* reserved) const {
  if (reply == nullptr || reserved != nullptr) return zel::rt::kInvalidArgument;
  *reply = nullptr;
  ZEL_BUF_EventBuffer2* created = zel::rt::NewEvent(replyEventID, version, sizeHint, 0);
  if (created == nullptr) return zel::rt::kNoMemory;
  created->SetSrcHostID(destHostID_);
  created->SetDestHostID(srcHostID_);
  created->SetSrcSubsystemUID(sourceUID);
  created->SetDestSubsystemUID(srcSubsystemUID_);
  *reply = created;
  return zel::rt::kOk;
}

ZEL_BUF_EventBuffer2::ZEL_BUF_EventBuffer2(uint16_t eventID, ZELVersion version, uint32_t sizeHint,
                                           uint32_t interfaceLevel)
    : ZEL_BUF_EventBuffer(eventID, version, sizeHint), interfaceLevel_(interfaceLevel) {}

ZEL_BUF_EventBuffer2::~ZEL_BUF_EventBuffer2() = default;
