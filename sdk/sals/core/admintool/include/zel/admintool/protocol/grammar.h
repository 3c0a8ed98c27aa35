// How a message of the AdminTool protocol lists its fields once, for every walker: the writer
// (into an event), the reader (out of a reply or a request), the releaser (what the reader
// allocated) and the describer (named fields for people). A message or record has a
//
//   template <typename V> static void Fields(V& v, Message& m)
//
// (a static member of its Grammar<Message> specialisation) that calls, in wire order:
//   v.Value(name, x)                  a scalar (uint8, int16, uint16, int32, uint32, uint64)
//   v.Text(name, s)                   a ZELString;   v.Wide(name, p): a wide-string pointer
//   v.Texts(name, list)               a ZELMultiString
//   v.Block(name, count, values)      uint32 count, then the values raw (absent when 0)
//   v.List(name, count, values)       uint32 count, then the values one by one
//   v.Bytes(name, length, bytes, s)   uint32 length, then the bytes raw (appended even when 0)
//   v.Fixed(name, bytes, length, s)   `length` bytes raw, no count
//   v.Bounded(name, length, buf, max, s)  uint32 length (at most max), then the bytes raw, read
//                                     into the caller's buffer
//   v.Records(name, count, items, m)  uint32 count, then each item's Fields; every item takes at
//                                     least `m` bytes
//   v.Pairs(name, count, as, bs, m)   uint32 count, then as[i]'s and bs[i]'s Fields in turn
//   v.Record(name, item)              one nested record's Fields
//   v.Blob(name, writer, identity)    an account-ID blob
// where `s` is kSecret for a field whose value is never shown.
//
// Readers never trust a count: one whose items could not fit in what remains is a short read,
// found before anything is allocated. Storage that cannot be had stops the reader with the
// status 0x80000002 (no exception); arrays it made stay in the message for the releaser.
#pragma once

#include <cstdint>
#include <type_traits>

#include "zel/admintool/allocation.h"
#include "zel/admintool/result_codes.h"
#include "zel/admintool/zel_simplearray.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/reader.h"
#include "zel/runtime/strings.h"
#include "zel/runtime/wire.h"
#include "zel/usersal/account_blob.h"

namespace zel::admintool {

// Grammar<T>::Fields(v, t) lists the fields of T; Walk is how walkers reach it.
template <typename T>
struct Grammar;
template <typename V, typename T>
void Walk(V& v, T& item) {
  Grammar<T>::Fields(v, item);
}

// Record arrays: the array form of the allocation facility, or new[] for records whose class
// has its own array forms (released with delete[]). Null when there is no storage.
template <typename T>
inline constexpr bool kOwnArrayForm = requires(std::size_t n) {
  T::operator new[](n, std::nothrow);
};

template <typename T>
T* NewRecords(uint32_t count) {
  if constexpr (kOwnArrayForm<T>) {
    return new (std::nothrow) T[count];
  } else {
    return zel::sal::NewArray<T>(count);
  }
}
template <typename T>
void DeleteRecords(T* items) {
  if constexpr (kOwnArrayForm<T>) {
    delete[] items;
  } else {
    zel::sal::DeleteArray(items);
  }
}

// What a ZELString takes on the wire (its length prefix and its length value, terminator
// included), so that size hints built from it are exact.
inline uint32_t WireSize(const ZELString& text) {
  return zel::wire::kLengthPrefixSize + text.getLength();
}

enum Secrecy : bool { kPlain = false, kSecret = true };

// An append that an operation may answer with its own code: raw blocks (AppendData answers a
// code instead of throwing), a record list that claims items it does not hold, an account-ID
// blob that cannot be written.
struct WriteRefused {
  int32_t code;
  bool appendFailed;  // a raw append's own code, which most operations report as a failed write
};

// Throws a short read when `count` items of at least `each` bytes cannot fit in what remains.
inline void EnsureRoom(const ZEL_BUF_BufferReader& reader, uint32_t count, uint64_t each) {
  if (static_cast<uint64_t>(count) * each > reader.GetRemaining()) {
    throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kShort);
  }
}

// Writes fields into an event. The buffer operators throw ZEL_BUF_AppendException; raw
// appends, empty record lists with a count and blobs throw WriteRefused.
class FieldWriter {
 public:
  explicit FieldWriter(ZEL_BUF_EventBuffer& event) : event_(event) {}

  template <typename T>
  void Value(const char*, const T& value) {
    event_ << value;
  }
  void Text(const char*, const ZELString& text) { event_ << text; }
  void Wide(const char*, const char16_t* text) { event_ << text; }
  void Texts(const char*, const ZELMultiString& list) { event_ << list; }
  template <typename T>
  void Block(const char*, const uint32_t& count, T* const& values) {
    event_ << count;
    if (count != 0) Raw(values, count * static_cast<uint32_t>(sizeof(T)));
  }
  template <typename C>
  void List(const char*, const uint32_t& count, C& values) {
    event_ << count;
    for (uint32_t i = 0; i < count; ++i) event_ << values[i];
  }
  void Bytes(const char*, const uint32_t& length, uint8_t* const& bytes, Secrecy) {
    event_ << length;
    Raw(bytes, length);
  }
  void Fixed(const char*, uint8_t* const& bytes, uint32_t length, Secrecy) { Raw(bytes, length); }
  void Bounded(const char*, const uint32_t& length, const uint8_t* bytes, uint32_t, Secrecy) {
    event_ << length;
    Raw(bytes, length);
  }
  template <typename T>
  void Records(const char*, const uint32_t& count, T* const& items, uint64_t) {
    event_ << count;
    if (count != 0 && items == nullptr) throw WriteRefused{ZEL_E_WRITE_FAILED, false};
    for (uint32_t i = 0; i < count; ++i) Walk(*this, items[i]);
  }
  template <typename A, typename B>
  void Pairs(const char*, const uint32_t& count, A* const& as, B* const& bs, uint64_t) {
    event_ << count;
    if (count != 0 && (as == nullptr || bs == nullptr)) {
      throw WriteRefused{ZEL_E_WRITE_FAILED, false};
    }
    for (uint32_t i = 0; i < count; ++i) {
      Walk(*this, as[i]);
      Walk(*this, bs[i]);
    }
  }
  template <typename T>
  void Record(const char*, T& item) {
    Walk(*this, item);
  }
  void Blob(const char*, UM_AcctIDBlobWriter* writer, UM_AccountIdentity&) {
    if (writer == nullptr || writer->WriteToEvent(&event_) != 0)
      throw WriteRefused{ZEL_E_FAIL, false};
  }

 private:
  void Raw(const void* bytes, uint32_t length) {
    const int32_t appended = event_.AppendData(bytes, length);
    if (appended < 0) throw WriteRefused{appended, true};
  }

  ZEL_BUF_EventBuffer& event_;
};

// Reads fields from a reader. Short or malformed input throws ZEL_BUF_ReadException; storage
// that cannot be had sets status() and leaves every later field as it was.
class FieldReader {
 public:
  explicit FieldReader(ZEL_BUF_BufferReader& reader) : reader_(reader) {}

  int32_t status() const { return status_; }
  ZEL_BUF_BufferReader& reader() { return reader_; }

  template <typename T>
  void Value(const char*, T& value) {
    if (status_ == 0) reader_ >> value;
  }
  void Text(const char*, ZELString& text) {
    if (status_ == 0) reader_ >> text;
  }
  void Wide(const char*, char16_t*& text) {
    if (status_ == 0) reader_ >> text;
  }
  void Texts(const char*, ZELMultiString& list) {
    if (status_ == 0) reader_ >> list;
  }
  template <typename T>
  void Block(const char*, uint32_t& count, T*& values) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (status_ != 0) return;
    reader_ >> count;
    if (count == 0) return;
    EnsureRoom(reader_, count, sizeof(T));
    values = zel::sal::AllocatePlainArray<T>(count);
    if (values == nullptr) {
      status_ = ZEL_E_NO_EVENT;
      return;
    }
    reader_.ReadData(values, count * static_cast<uint32_t>(sizeof(T)));
  }
  template <typename T>
  void List(const char* name, uint32_t& count, T*& values) {
    Block(name, count, values);  // the same bytes: values are little-endian on the wire
  }
  template <typename T>
  void List(const char*, uint32_t& count, ZEL_SimpleArray<T>& values) {
    if (status_ != 0) return;
    uint32_t n = 0;
    reader_ >> n;
    EnsureRoom(reader_, n, sizeof(T));
    if (values.ChangeSize(n) != n) {
      status_ = ZEL_E_NO_EVENT;
      return;
    }
    count = n;
    for (uint32_t i = 0; i < n; ++i) reader_ >> values[i];
  }
  void Bytes(const char* name, uint32_t& length, uint8_t*& bytes, Secrecy) {
    Block(name, length, bytes);
  }
  void Bounded(const char*, uint32_t& length, uint8_t* bytes, uint32_t capacity, Secrecy) {
    if (status_ != 0) return;
    reader_ >> length;
    if (length > capacity) throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kMalformed);
    reader_.ReadData(bytes, length);
  }
  void Fixed(const char*, uint8_t*& bytes, uint32_t length, Secrecy) {
    if (status_ != 0) return;
    EnsureRoom(reader_, length, 1);
    bytes = zel::sal::AllocatePlainArray<uint8_t>(length);
    if (bytes == nullptr) {
      status_ = ZEL_E_NO_EVENT;
      return;
    }
    reader_.ReadData(bytes, length);
  }
  template <typename T>
  void Records(const char*, uint32_t& count, T*& items, uint64_t minEach) {
    if (status_ != 0) return;
    uint32_t n = 0;
    reader_ >> n;
    count = 0;
    if (n == 0) return;
    EnsureRoom(reader_, n, minEach);
    items = NewRecords<T>(n);
    if (items == nullptr) {
      status_ = ZEL_E_NO_EVENT;
      return;
    }
    count = n;
    for (uint32_t i = 0; i < n && status_ == 0; ++i) Walk(*this, items[i]);
  }
  template <typename A, typename B>
  void Pairs(const char*, uint32_t& count, A*& as, B*& bs, uint64_t minEach) {
    if (status_ != 0) return;
    reader_ >> count;
    if (count == 0) return;
    EnsureRoom(reader_, count, minEach);
    as = zel::sal::NewArray<A>(count);
    bs = as != nullptr ? zel::sal::NewArray<B>(count) : nullptr;
    if (bs == nullptr) {
      status_ = ZEL_E_NO_EVENT;
      return;
    }
    for (uint32_t i = 0; i < count && status_ == 0; ++i) {
      Walk(*this, as[i]);
      Walk(*this, bs[i]);
    }
  }
  template <typename T>
  void Record(const char*, T& item) {
    if (status_ == 0) Walk(*this, item);
  }
  void Blob(const char*, UM_AcctIDBlobWriter*, UM_AccountIdentity& identity) {
    if (status_ != 0) return;
    if (UM_ReadAcctIDBlob(reader_, &identity) != 0) {
      throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kMalformed);
    }
  }

 private:
  ZEL_BUF_BufferReader& reader_;
  int32_t status_ = 0;
};

// Releases what a FieldReader allocated into a message (raw arrays and record arrays; strings
// and records release themselves) and clears the pointers.
class FieldReleaser {
 public:
  template <typename T>
  void Value(const char*, T&) {}
  void Text(const char*, ZELString&) {}
  void Wide(const char*, char16_t*& text) {
    if (text != nullptr) ZEL_BUF_Free_Debug(text, ZEL_BUF_BufferReader::kStringTag, __LINE__);
    text = nullptr;
  }
  void Texts(const char*, ZELMultiString&) {}
  template <typename T>
  void Block(const char*, uint32_t&, T*& values) {
    zel::sal::ReleasePlain(values);
    values = nullptr;
  }
  template <typename T>
  void List(const char* name, uint32_t& count, T*& values) {
    Block(name, count, values);
  }
  template <typename T>
  void List(const char*, uint32_t&, ZEL_SimpleArray<T>&) {}  // the array owns its storage
  void Bytes(const char* name, uint32_t& length, uint8_t*& bytes, Secrecy) {
    Block(name, length, bytes);
  }
  void Bounded(const char*, uint32_t&, uint8_t*, uint32_t, Secrecy) {}
  void Fixed(const char*, uint8_t*& bytes, uint32_t, Secrecy) {
    zel::sal::ReleasePlain(bytes);
    bytes = nullptr;
  }
  template <typename T>
  void Records(const char*, uint32_t& count, T*& items, uint64_t) {
    DeleteRecords(items);  // each record releases what it holds
    items = nullptr;
    count = 0;
  }
  template <typename A, typename B>
  void Pairs(const char*, uint32_t& count, A*& as, B*& bs, uint64_t) {
    zel::sal::DeleteArray(as);
    zel::sal::DeleteArray(bs);
    as = nullptr;
    bs = nullptr;
    count = 0;
  }
  template <typename T>
  void Record(const char*, T& item) {
    Walk(*this, item);
  }
  void Blob(const char*, UM_AcctIDBlobWriter*, UM_AccountIdentity&) {}
};

// A reply that carries nothing after its result.
struct ResultOnly {};
template <>
struct Grammar<ResultOnly> {
  template <typename V>
  static void Fields(V&, ResultOnly&) {}
};

// Writes `message`; throws as FieldWriter does.
template <typename M>
void WriteMessage(ZEL_BUF_EventBuffer& event, M& message) {
  FieldWriter writer(event);
  Walk(writer, message);
}

// Reads `message`; 0, or 0x80000002 when storage ran out. Throws ZEL_BUF_ReadException for
// input that is short or malformed. Either way what was allocated is in the message.
template <typename M>
int32_t ReadMessage(ZEL_BUF_BufferReader& reader, M& message) {
  FieldReader fields(reader);
  Walk(fields, message);
  return fields.status();
}

template <typename M>
void ReleaseMessage(M& message) {
  FieldReleaser releaser;
  Walk(releaser, message);
}

}  // namespace zel::admintool
