// The account-ID blob: an account identity that writes itself into an event, and the reader a
// receiving side uses to get it back.
//
// Blob form (in the runtime's wire encoding):
//   uint32 blobLength        bytes that follow, so a reader can check or skip the whole blob
//   uint16 formatVersion     kAccountBlobVersion
//   string authority         e.g. "NT", "NDS"
//   string domain
//   string accountName
//   uint32 idLength, then idLength raw bytes of the account's own identifier
// A reader takes exactly blobLength bytes after the length field: fewer is a malformed blob.
#pragma once

#include <cstdint>
#include <vector>

#include "zel/runtime/buffers.h"
#include "zel/runtime/reader.h"
#include "zel/runtime/strings.h"
#include "zel/usersal/export.h"

inline constexpr uint16_t kAccountBlobVersion = 1;

// Codes of the blob reader (the runtime's append codes pass through the writer unchanged).
inline constexpr int32_t kAccountBlobShort = static_cast<int32_t>(0x80020001u);
inline constexpr int32_t kAccountBlobMalformed = static_cast<int32_t>(0x80020002u);
inline constexpr int32_t kAccountBlobUnknownVersion = static_cast<int32_t>(0x80020003u);

// Something that writes its own serialized form into an event.
class ZEL_USERSAL_API UM_ObjectBufferWriter {
 public:
  virtual ~UM_ObjectBufferWriter();
  // 0 on success; anything else is a failure, and the event may then hold part of the form.
  virtual int32_t WriteToEvent(ZEL_BUF_EventBuffer* event) = 0;
};

// An account identity.
struct UM_AccountIdentity {
  ZELString authority;
  ZELString domain;
  ZELString accountName;
  std::vector<uint8_t> accountID;

  friend bool operator==(const UM_AccountIdentity&, const UM_AccountIdentity&) = default;
};

class ZEL_USERSAL_API UM_AcctIDBlobWriter : public UM_ObjectBufferWriter {
 public:
  explicit UM_AcctIDBlobWriter(UM_AccountIdentity identity) : identity_(std::move(identity)) {}
  ~UM_AcctIDBlobWriter() override;

  // 0, or the runtime's negative append code (kInvalidArgument for a null event).
  int32_t WriteToEvent(ZEL_BUF_EventBuffer* event) override;
  const UM_AccountIdentity& Identity() const { return identity_; }
  // Bytes the blob takes in an event, its length field included.
  uint64_t BlobSize() const;

 private:
  UM_AccountIdentity identity_;
};

// Reads one blob at the reader's position into *identity; 0 or one of the kAccountBlob codes
// (*identity untouched then). A blob whose length runs past the event is short and the reader
// stays after its length field; a blob whose inside cannot be read is skipped whole.
ZEL_USERSAL_API int32_t UM_ReadAcctIDBlob(ZEL_BUF_BufferReader& reader,
                                          UM_AccountIdentity* identity);
