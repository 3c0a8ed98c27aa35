// How a message lists its fields once, and the visitors that walk the list: the writer (onto a
// ZEL_BUF_BinBuffer), the reader (from a ZEL_BUF_BufferReader), the describer (reads like the
// reader and turns each field into a named, readable Field), the least size (the fewest bytes a
// record can take, which the reader checks every count against) and the wire size (what the
// writer would append).
//
// Grammar of the field kinds (the runtime's encoding, zel/runtime/wire.h: little-endian, no
// padding):
//
//   u8 i16 u16 i32 u32 u64  = 1, 2, 2, 4, 4, 8 bytes
//   text       = string (uint32 byte length, UTF-16LE units, terminator); never null: a
//                null string (byte length 0) where text is expected is malformed
//   anytext    = string as the library's events carry it: a null string reads as empty text
//   texts      = uint32 count, then count texts
//   u32s u64s  = uint32 count, then count values
//   u32s(n) u64s(n) = n values, n given by a field before them (U32sOf, U64sOf)
//   bytes      = uint32 count, then count bytes (opaque)
//   secret     = the same as bytes; the describer never shows them
//   password   = the same as bytes: UTF-8 without terminator, 0 to 127 characters; secret
//   fixed[N]   = N bytes, no count; secret
//   list       = uint32 count, then count records, each by its own fields
//   list(n)    = n records, n given by fields before them (ListOf)
//
// A message is a struct with
//
//   template <class V> void Fields(V& v) {
//     v.I32("result", result);
//     if (v.Present(result >= 0)) v.U64("uid", uid);  // fields present only on success
//     v.List("members", members);                     // records with their own Fields
//   }
//
// The same walk writes, reads and describes, so the three can never disagree. Besides the
// kinds, every visitor offers
//   Present(condition)  fields that follow only when a value read before says so;
//   Trailing(condition) last fields that the writer adds only when the condition holds and a
//                       reader reads when bytes remain;
//   Valid(condition)    a value the grammar rules out (an unknown kind, a UID 0 that a writer
//                       would have left out) is refused on both sides, so that whatever reads
//                       writes back to the same bytes.
//
// A reader never trusts a count: before anything is allocated for it, count x the least wire
// size of one element must fit in what the payload still holds.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zel/protocol/description.h"
#include "zel/protocol/export.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/codes.h"
#include "zel/runtime/reader.h"
#include "zel/runtime/strings.h"

namespace zel::protocol {

// The most one event's payload may hold (the runtime's event maximum).
inline constexpr uint32_t kMaxPayload = ZEL_BUF_BinBuffer::kDefaultMaxSize;

// Longest password, in characters (code points).
inline constexpr uint32_t kMaxPasswordChars = 127;

// Bytes that must not outlive their use: wiped when destroyed or cleared. Copies are
// SecretBytes too, so each copy wipes itself.
class ZEL_PROTOCOL_API SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(std::string_view text) : bytes_(text.begin(), text.end()) {}
  explicit SecretBytes(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  SecretBytes(const SecretBytes&) = default;
  SecretBytes(SecretBytes&&) noexcept = default;
  SecretBytes& operator=(const SecretBytes& other);
  SecretBytes& operator=(SecretBytes&& other) noexcept;
  ~SecretBytes() { Wipe(); }

  void Wipe() noexcept;
  // Size first; the bytes are unspecified until written.
  void Resize(uint32_t size);
  uint8_t* data() { return bytes_.data(); }
  const uint8_t* data() const { return bytes_.data(); }
  uint32_t size() const { return static_cast<uint32_t>(bytes_.size()); }
  std::string_view view() const {
    return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()};
  }
  friend bool operator==(const SecretBytes& a, const SecretBytes& b) {
    return a.bytes_ == b.bytes_;
  }

 private:
  std::vector<uint8_t> bytes_;
};

// True when `bytes` are well-formed UTF-8 (no overlong forms, no surrogates) of at most
// `maxChars` code points.
ZEL_PROTOCOL_API bool IsPasswordText(std::string_view bytes, uint32_t maxChars);

// Readable values for the describer.
// Decimal; a negative value (a result code) adds its 32-bit 0x form.
ZEL_PROTOCOL_API std::string ShowSigned(int64_t value);
ZEL_PROTOCOL_API std::string ShowUnsigned(uint64_t value);
ZEL_PROTOCOL_API std::string ShowUID(uint64_t value);          // 0x and 16 hex digits
ZEL_PROTOCOL_API std::string ShowText(const ZELString& text);  // quoted UTF-8, escaped
ZEL_PROTOCOL_API std::string ShowBytes(const uint8_t* bytes, uint32_t size);  // "N bytes: hex"

// ---------------------------------------------------------------------------------------------
// Writer: throws ZEL_BUF_AppendException (the buffer's, or kInvalidArgument for a value the
// grammar refuses).
class Writer {
 public:
  explicit Writer(ZEL_BUF_BinBuffer& out) : out_(out) {}

  void U8(const char*, uint8_t& value) { out_ << value; }
  void I16(const char*, int16_t& value) { out_ << value; }
  void U16(const char*, uint16_t& value) { out_ << value; }
  void I32(const char*, int32_t& value) { out_ << value; }
  void U32(const char*, uint32_t& value) { out_ << value; }
  void U64(const char*, uint64_t& value) { out_ << value; }
  void UID(const char*, uint64_t& value) { out_ << value; }
  void Text(const char*, ZELString& value) { out_ << value; }
  void AnyText(const char*, ZELString& value) { out_ << value; }
  void Texts(const char*, ZELMultiString& value) {
    Count(value.count());
    for (const ZELString& item : value.items()) out_ << item;
  }
  void U32s(const char*, std::vector<uint32_t>& values) { Values(values); }
  void U64s(const char*, std::vector<uint64_t>& values) { Values(values); }
  void U32sOf(const char*, uint32_t count, std::vector<uint32_t>& values) { Run(count, values); }
  void U64sOf(const char*, uint32_t count, std::vector<uint64_t>& values) { Run(count, values); }
  void Bytes(const char*, std::vector<uint8_t>& bytes) { Block(bytes.data(), bytes.size()); }
  void Secret(const char*, SecretBytes& bytes) { Block(bytes.data(), bytes.size()); }
  void Password(const char*, SecretBytes& text) {
    Valid(IsPasswordText(text.view(), kMaxPasswordChars));
    Block(text.data(), text.size());
  }
  template <std::size_t N>
  void Fixed(const char*, std::array<uint8_t, N>& bytes) {
    Append(bytes.data(), N);
  }
  template <class T>
  void List(const char* name, std::vector<T>& items) {
    List(name, items, [](auto& v, T& item) { item.Fields(v); });
  }
  template <class T, class Each>
  void List(const char*, std::vector<T>& items, Each&& each) {
    Count(items.size());
    for (T& item : items) each(*this, item);
  }
  template <class T, class Each>
  void ListOf(const char*, uint32_t count, std::vector<T>& items, Each&& each) {
    Valid(items.size() == count);
    for (T& item : items) each(*this, item);
  }
  bool Present(bool condition) { return condition; }
  bool Trailing(bool condition) { return condition; }
  void Valid(bool condition) {
    if (!condition) throw ZEL_BUF_AppendException(zel::rt::kInvalidArgument);
  }

 private:
  void Count(std::size_t count) {
    Valid(count <= UINT32_MAX);
    out_ << static_cast<uint32_t>(count);
  }
  template <class T>
  void Values(std::vector<T>& values) {
    Count(values.size());
    Run(static_cast<uint32_t>(values.size()), values);
  }
  template <class T>
  void Run(uint32_t count, std::vector<T>& values) {
    Valid(values.size() == count);
    if constexpr (std::endian::native == std::endian::little) {
      // Memory order is wire order: one append for the whole run.
      Append(reinterpret_cast<const uint8_t*>(values.data()), sizeof(T) * values.size());
    } else {
      for (T value : values) out_ << value;
    }
  }
  void Block(const uint8_t* bytes, std::size_t size) {
    Count(size);
    Append(bytes, size);
  }
  void Append(const uint8_t* bytes, std::size_t size) {
    if (size > UINT32_MAX) throw ZEL_BUF_AppendException(zel::rt::kEventTooLarge);
    const int32_t code = out_.AppendBytes(bytes, static_cast<uint32_t>(size));
    if (code != 0) throw ZEL_BUF_AppendException(code);
  }

  ZEL_BUF_BinBuffer& out_;
};

// ---------------------------------------------------------------------------------------------
// Least size: the fewest bytes the fields can take (conditional fields absent, every count 0).
class LeastSize {
 public:
  void U8(const char*, uint8_t&) { size_ += 1; }
  void I16(const char*, int16_t&) { size_ += 2; }
  void U16(const char*, uint16_t&) { size_ += 2; }
  void I32(const char*, int32_t&) { size_ += 4; }
  void U32(const char*, uint32_t&) { size_ += 4; }
  void U64(const char*, uint64_t&) { size_ += 8; }
  void UID(const char*, uint64_t&) { size_ += 8; }
  void Text(const char*, ZELString&) { size_ += 6; }  // prefix and terminator
  void AnyText(const char*, ZELString&) { size_ += 4; }
  void Texts(const char*, ZELMultiString&) { size_ += 4; }
  void U32s(const char*, std::vector<uint32_t>&) { size_ += 4; }
  void U64s(const char*, std::vector<uint64_t>&) { size_ += 4; }
  void U32sOf(const char*, uint32_t, std::vector<uint32_t>&) {}
  void U64sOf(const char*, uint32_t, std::vector<uint64_t>&) {}
  void Bytes(const char*, std::vector<uint8_t>&) { size_ += 4; }
  void Secret(const char*, SecretBytes&) { size_ += 4; }
  void Password(const char*, SecretBytes&) { size_ += 4; }
  template <std::size_t N>
  void Fixed(const char*, std::array<uint8_t, N>&) {
    size_ += N;
  }
  template <class T>
  void List(const char*, std::vector<T>&) {
    size_ += 4;
  }
  template <class T, class Each>
  void List(const char*, std::vector<T>&, Each&&) {
    size_ += 4;
  }
  template <class T, class Each>
  void ListOf(const char*, uint32_t, std::vector<T>&, Each&&) {}
  bool Present(bool) { return false; }
  bool Trailing(bool) { return false; }
  void Valid(bool) {}

  uint64_t size() const { return size_; }

 private:
  uint64_t size_ = 0;
};

// Wire size: the exact bytes the writer would append, without writing (a server fills a page
// of search results while the reply stays within kMaxPayload).
class WireSize {
 public:
  void U8(const char*, uint8_t&) { size_ += 1; }
  void I16(const char*, int16_t&) { size_ += 2; }
  void U16(const char*, uint16_t&) { size_ += 2; }
  void I32(const char*, int32_t&) { size_ += 4; }
  void U32(const char*, uint32_t&) { size_ += 4; }
  void U64(const char*, uint64_t&) { size_ += 8; }
  void UID(const char*, uint64_t&) { size_ += 8; }
  void Text(const char*, ZELString& value) { size_ += 4 + uint64_t{value.getLength()}; }
  void AnyText(const char*, ZELString& value) { size_ += 4 + uint64_t{value.getLength()}; }
  void Texts(const char*, ZELMultiString& value) {
    size_ += 4;
    for (const ZELString& item : value.items()) size_ += 4 + uint64_t{item.getLength()};
  }
  void U32s(const char*, std::vector<uint32_t>& values) { size_ += 4 + 4 * values.size(); }
  void U64s(const char*, std::vector<uint64_t>& values) { size_ += 4 + 8 * values.size(); }
  void U32sOf(const char*, uint32_t, std::vector<uint32_t>& values) { size_ += 4 * values.size(); }
  void U64sOf(const char*, uint32_t, std::vector<uint64_t>& values) { size_ += 8 * values.size(); }
  void Bytes(const char*, std::vector<uint8_t>& bytes) { size_ += 4 + bytes.size(); }
  void Secret(const char*, SecretBytes& bytes) { size_ += 4 + uint64_t{bytes.size()}; }
  void Password(const char*, SecretBytes& text) { size_ += 4 + uint64_t{text.size()}; }
  template <std::size_t N>
  void Fixed(const char*, std::array<uint8_t, N>&) {
    size_ += N;
  }
  template <class T>
  void List(const char* name, std::vector<T>& items) {
    List(name, items, [](auto& v, T& item) { item.Fields(v); });
  }
  template <class T, class Each>
  void List(const char*, std::vector<T>& items, Each&& each) {
    size_ += 4;
    for (T& item : items) each(*this, item);
  }
  template <class T, class Each>
  void ListOf(const char*, uint32_t, std::vector<T>& items, Each&& each) {
    for (T& item : items) each(*this, item);
  }
  bool Present(bool condition) { return condition; }
  bool Trailing(bool condition) { return condition; }
  void Valid(bool) {}

  uint64_t size() const { return size_; }

 private:
  uint64_t size_ = 0;
};

// The least wire size of one record walked by `each`, at least 1 so that a count of empty
// records is still bounded by the bytes that remain.
template <class T, class Each>
uint64_t LeastWireSize(Each& each) {
  LeastSize sizer;
  T sample{};
  each(sizer, sample);
  return std::max<uint64_t>(sizer.size(), 1);
}

// ---------------------------------------------------------------------------------------------
// Reader: throws ZEL_BUF_ReadException (short: the payload ends first; malformed: a value the
// grammar refuses). Fields read before a failure keep their values; the caller discards the
// message.
class Reader {
 public:
  explicit Reader(ZEL_BUF_BufferReader& in) : in_(in) {}

  void U8(const char*, uint8_t& value) { in_ >> value; }
  void I16(const char*, int16_t& value) { in_ >> value; }
  void U16(const char*, uint16_t& value) { in_ >> value; }
  void I32(const char*, int32_t& value) { in_ >> value; }
  void U32(const char*, uint32_t& value) { in_ >> value; }
  void U64(const char*, uint64_t& value) { in_ >> value; }
  void UID(const char*, uint64_t& value) { in_ >> value; }
  void Text(const char*, ZELString& value) {
    const uint32_t before = in_.GetOffset();
    in_ >> value;
    // The prefix alone was a null string: writers of text never write one.
    if (in_.GetOffset() - before == 4) Malformed();
  }
  void AnyText(const char*, ZELString& value) { in_ >> value; }
  void Texts(const char* name, ZELMultiString& value) {
    const uint32_t count = Count(6);
    value.clear();
    for (uint32_t i = 0; i < count; ++i) {
      ZELString item;
      Text(name, item);
      value.add(item);
    }
  }
  void U32s(const char*, std::vector<uint32_t>& values) { Values(values); }
  void U64s(const char*, std::vector<uint64_t>& values) { Values(values); }
  void U32sOf(const char*, uint32_t count, std::vector<uint32_t>& values) { Run(count, values); }
  void U64sOf(const char*, uint32_t count, std::vector<uint64_t>& values) { Run(count, values); }
  void Bytes(const char*, std::vector<uint8_t>& bytes) {
    bytes.resize(Count(1));
    in_.ReadData(bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  void Secret(const char*, SecretBytes& bytes) {
    bytes.Resize(Count(1));
    in_.ReadData(bytes.data(), bytes.size());
  }
  void Password(const char* name, SecretBytes& text) {
    Secret(name, text);
    Valid(IsPasswordText(text.view(), kMaxPasswordChars));
  }
  template <std::size_t N>
  void Fixed(const char*, std::array<uint8_t, N>& bytes) {
    in_.ReadData(bytes.data(), N);
  }
  template <class T>
  void List(const char* name, std::vector<T>& items) {
    List(name, items, [](auto& v, T& item) { item.Fields(v); });
  }
  template <class T, class Each>
  void List(const char* name, std::vector<T>& items, Each&& each) {
    uint32_t count;
    in_ >> count;
    ListOf(name, count, items, each);
  }
  template <class T, class Each>
  void ListOf(const char*, uint32_t count, std::vector<T>& items, Each&& each) {
    CheckFits(count, LeastWireSize<T>(each));
    items.clear();
    for (uint32_t i = 0; i < count; ++i) {
      // No room is reserved from the count: what is taken grows with what was really read.
      T item{};
      each(*this, item);
      items.push_back(std::move(item));
    }
  }
  bool Present(bool condition) { return condition; }
  bool Trailing(bool) { return in_.GetRemaining() > 0; }
  void Valid(bool condition) {
    if (!condition) Malformed();
  }

  ZEL_BUF_BufferReader& in() { return in_; }

  // Reads a count and checks that `count` elements of at least `least` bytes each fit in what
  // remains; a count that cannot is a short read.
  uint32_t Count(uint64_t least) {
    uint32_t count;
    in_ >> count;
    CheckFits(count, least);
    return count;
  }
  void CheckFits(uint32_t count, uint64_t least) {
    if (count * least > in_.GetRemaining()) {
      throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kShort);
    }
  }

 private:
  [[noreturn]] static void Malformed() {
    throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kMalformed);
  }
  template <class T>
  void Values(std::vector<T>& values) {
    uint32_t count;
    in_ >> count;
    Run(count, values);
  }
  template <class T>
  void Run(uint32_t count, std::vector<T>& values) {
    CheckFits(count, sizeof(T));
    values.resize(count);
    if constexpr (std::endian::native == std::endian::little) {
      in_.ReadData(values.data(), static_cast<uint32_t>(sizeof(T) * count));
    } else {
      for (T& value : values) in_ >> value;
    }
  }

  ZEL_BUF_BufferReader& in_;
};

// ---------------------------------------------------------------------------------------------
// Describer: reads like the Reader and appends one Field per value, named by its path
// ("members[2].uid"). A secret field is read but its value never reaches the Field; when given
// `secrets`, where its contents lie is added there (what blanking zeroes). When a read throws,
// FieldStart() is the payload offset of the field that failed.
class Describer {
 public:
  Describer(ZEL_BUF_BufferReader& in, std::vector<Field>& out,
            std::vector<ByteRange>* secrets = nullptr)
      : reader_(in), out_(out), secrets_(secrets) {}

  void U8(const char* name, uint8_t& value) {
    Show(name, value, [&] { in() >> value; });
  }
  void I16(const char* name, int16_t& value) {
    Begin();
    in() >> value;
    Add(name, std::to_string(value));  // flags and counts, never a result code
  }
  void U16(const char* name, uint16_t& value) {
    Show(name, value, [&] { in() >> value; });
  }
  void I32(const char* name, int32_t& value) {
    Signed(name, value, [&] { in() >> value; });
  }
  void U32(const char* name, uint32_t& value) {
    Show(name, value, [&] { in() >> value; });
  }
  void U64(const char* name, uint64_t& value) {
    Show(name, value, [&] { in() >> value; });
  }
  void UID(const char* name, uint64_t& value) {
    Begin();
    reader_.UID(name, value);
    Add(name, ShowUID(value));
  }
  void Text(const char* name, ZELString& value) {
    Begin();
    reader_.Text(name, value);
    Add(name, ShowText(value));
  }
  void AnyText(const char* name, ZELString& value) {
    Begin();
    reader_.AnyText(name, value);
    Add(name, in().GetOffset() - fieldStart_ == 4 ? "null" : ShowText(value));
  }
  void Texts(const char* name, ZELMultiString& value) {
    Begin();
    reader_.Texts(name, value);
    std::string shown = "[";
    for (const ZELString& item : value.items()) {
      shown += (shown.size() > 1 ? ", " : "") + ShowText(item);
    }
    Add(name, shown + "]");
  }
  void U32s(const char* name, std::vector<uint32_t>& values) {
    Begin();
    reader_.U32s(name, values);
    Add(name, ShowList(values, [](uint32_t v) { return ShowUnsigned(v); }));
  }
  void U64s(const char* name, std::vector<uint64_t>& values) {
    Begin();
    reader_.U64s(name, values);
    Add(name, ShowList(values, [](uint64_t v) { return ShowUID(v); }));
  }
  void U32sOf(const char* name, uint32_t count, std::vector<uint32_t>& values) {
    Begin();
    reader_.U32sOf(name, count, values);
    Add(name, ShowList(values, [](uint32_t v) { return ShowUnsigned(v); }));
  }
  void U64sOf(const char* name, uint32_t count, std::vector<uint64_t>& values) {
    Begin();
    reader_.U64sOf(name, count, values);
    Add(name, ShowList(values, [](uint64_t v) { return ShowUID(v); }));
  }
  void Bytes(const char* name, std::vector<uint8_t>& bytes) {
    Begin();
    reader_.Bytes(name, bytes);
    Add(name, ShowBytes(bytes.data(), static_cast<uint32_t>(bytes.size())));
  }
  void Secret(const char* name, SecretBytes& bytes) {
    Begin();
    reader_.Secret(name, bytes);
    AddSecret(name, bytes.size());
  }
  void Password(const char* name, SecretBytes& text) {
    Begin();
    reader_.Password(name, text);
    AddSecret(name, text.size());
  }
  template <std::size_t N>
  void Fixed(const char* name, std::array<uint8_t, N>& bytes) {
    Begin();
    reader_.Fixed(name, bytes);
    AddSecret(name, N);
  }
  template <class T>
  void List(const char* name, std::vector<T>& items) {
    List(name, items, [](auto& v, T& item) { item.Fields(v); });
  }
  template <class T, class Each>
  void List(const char* name, std::vector<T>& items, Each&& each) {
    Begin();
    const uint32_t count = reader_.Count(LeastWireSize<T>(each));
    Add(name, std::to_string(count) + (count == 1 ? " item" : " items"));
    Items(name, count, items, each);
  }
  template <class T, class Each>
  void ListOf(const char* name, uint32_t count, std::vector<T>& items, Each&& each) {
    Begin();
    reader_.CheckFits(count, LeastWireSize<T>(each));
    Items(name, count, items, each);
  }
  bool Present(bool condition) { return condition; }
  bool Trailing(bool condition) { return reader_.Trailing(condition); }
  void Valid(bool condition) { reader_.Valid(condition); }

  uint32_t FieldStart() const { return fieldStart_; }

 private:
  ZEL_BUF_BufferReader& in() { return reader_.in(); }
  void Begin() { fieldStart_ = in().GetOffset(); }
  // The records of a list, each field named "list[i].field".
  template <class T, class Each>
  void Items(const char* name, uint32_t count, std::vector<T>& items, Each& each) {
    const std::string outer = prefix_;
    items.clear();
    for (uint32_t i = 0; i < count; ++i) {
      prefix_ = outer + name + "[" + std::to_string(i) + "].";
      T item{};
      each(*this, item);
      items.push_back(std::move(item));
    }
    prefix_ = outer;
  }
  template <class T, class Read>
  void Show(const char* name, T& value, Read read) {
    Begin();
    read();
    Add(name, ShowUnsigned(value));
  }
  template <class T, class Read>
  void Signed(const char* name, T& value, Read read) {
    Begin();
    read();
    Add(name, ShowSigned(value));
  }
  template <class T, class Format>
  static std::string ShowList(const std::vector<T>& values, Format format) {
    std::string shown = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
      shown += (i == 0 ? "" : ", ") + format(values[i]);
    }
    return shown + "]";
  }
  void Add(const char* name, std::string value) {
    out_.push_back(Field{prefix_ + name, std::move(value), false});
  }
  // The value stays blank; EventDescription::Text shows kBlanked in its place. The secret's
  // `size` bytes end where reading is now.
  void AddSecret(const char* name, uint32_t size) {
    out_.push_back(Field{prefix_ + name, std::string(), true});
    const uint32_t end = in().GetOffset();
    if (secrets_ != nullptr) secrets_->push_back(ByteRange{end - size, end});
  }

  Reader reader_;
  std::vector<Field>& out_;
  std::vector<ByteRange>* secrets_;
  std::string prefix_;
  uint32_t fieldStart_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Whole messages.

// Appends the message's fields; throws ZEL_BUF_AppendException. The writer only reads the
// message (Fields is one walk for every visitor, so it takes the message non-const).
template <class M>
void Encode(const M& message, ZEL_BUF_BinBuffer& out) {
  Writer writer(out);
  const_cast<M&>(message).Fields(writer);
}

// The bytes Encode would append for the message.
template <class M>
uint64_t EncodedSize(const M& message) {
  WireSize size;
  const_cast<M&>(message).Fields(size);
  return size.size();
}

// Reads the message's fields from the reader's position; throws ZEL_BUF_ReadException. Bytes
// after the last field are left to the caller.
template <class M>
void Decode(ZEL_BUF_BufferReader& in, M& message) {
  Reader reader(in);
  message.Fields(reader);
}

// Describes a payload by `walk`, a callable (auto& v) that visits the payload's fields in
// order, into `out` (fields, parsed, stoppedAt, trailing, all replaced); the event's ID, name
// and direction are the caller's. For forms that are not one struct (the library's records).
template <class Walk>
void DescribeWith(const uint8_t* payload, uint32_t size, EventDescription& out, Walk&& walk) {
  out.fields.clear();
  out.stoppedAt = out.trailing = 0;
  ZEL_BUF_BufferReader in(payload, size);
  Describer describer(in, out.fields);
  try {
    walk(describer);
    out.parsed = true;
    out.trailing = in.GetRemaining();
  } catch (const ZEL_BUF_ReadException&) {
    out.parsed = false;
    out.stoppedAt = describer.FieldStart();
  }
}

// Describes a payload holding one message of type M.
template <class M>
void DescribePayload(const uint8_t* payload, uint32_t size, EventDescription& out) {
  M message{};
  DescribeWith(payload, size, out, [&](Describer& describer) { message.Fields(describer); });
}

// What blanking keeps of a payload read by `walk` (as DescribeWith takes it): the secret fields
// it read, and where the last field read whole ends.
template <class Walk>
SecretMap MapSecretsWith(const uint8_t* payload, uint32_t size, Walk&& walk) {
  SecretMap map;
  std::vector<Field> fields;
  ZEL_BUF_BufferReader in(payload, size);
  Describer describer(in, fields, &map.secrets);
  try {
    walk(describer);
    map.kept = in.GetOffset();
  } catch (const ZEL_BUF_ReadException&) {
    map.kept = describer.FieldStart();
  }
  return map;
}

// What blanking keeps of a payload holding one message of type M.
template <class M>
SecretMap MapSecrets(const uint8_t* payload, uint32_t size) {
  M message{};
  return MapSecretsWith(payload, size, [&](Describer& d) { message.Fields(d); });
}

}  // namespace zel::protocol
