#include "zel/usersal/account_blob.h"

#include "zel/runtime/codes.h"

namespace {

constexpr uint64_t kStringPrefix = 4;

uint64_t StringSize(const ZELString& text) { return kStringPrefix + text.getLength(); }

}  // namespace

UM_ObjectBufferWriter::~UM_ObjectBufferWriter() = default;
UM_AcctIDBlobWriter::~UM_AcctIDBlobWriter() = default;

uint64_t UM_AcctIDBlobWriter::BlobSize() const {
  return 4 + 2 + StringSize(identity_.authority) + StringSize(identity_.domain) +
         StringSize(identity_.accountName) + 4 + identity_.accountID.size();
}

int32_t UM_AcctIDBlobWriter::WriteToEvent(ZEL_BUF_EventBuffer* event) {
  if (event == nullptr) return zel::rt::kInvalidArgument;
  const uint64_t size = BlobSize();
  if (size > UINT32_MAX) return zel::rt::kEventTooLarge;
  try {
    *event << static_cast<uint32_t>(size - 4) << kAccountBlobVersion << identity_.authority
           << identity_.domain << identity_.accountName
           << static_cast<uint32_t>(identity_.accountID.size());
  } catch (const ZEL_BUF_AppendException& e) {
    return e.code();
  }
  return event->AppendData(identity_.accountID.data(),
                           static_cast<uint32_t>(identity_.accountID.size()));
}

int32_t UM_ReadAcctIDBlob(ZEL_BUF_BufferReader& reader, UM_AccountIdentity* identity) {
  if (identity == nullptr) return zel::rt::kInvalidArgument;
  uint32_t blobLength = 0;
  try {
    reader >> blobLength;
  } catch (const ZEL_BUF_ReadException&) {
    return kAccountBlobShort;
  }
  if (blobLength > reader.GetRemaining()) return kAccountBlobShort;
  // The blob is read from a copy of its own bytes, so no field can run past its end, and a
  // malformed blob is skipped whole.
  std::vector<uint8_t> blob(blobLength);
  reader.ReadData(blob.data(), blobLength);
  ZEL_BUF_BufferReader fields(blob.data(), blobLength);
  UM_AccountIdentity read;
  try {
    uint16_t version = 0;
    fields >> version;
    if (version != kAccountBlobVersion) return kAccountBlobUnknownVersion;
    uint32_t idLength = 0;
    fields >> read.authority >> read.domain >> read.accountName >> idLength;
    if (idLength != fields.GetRemaining()) return kAccountBlobMalformed;
    read.accountID.resize(idLength);
    fields.ReadData(read.accountID.data(), idLength);
  } catch (const ZEL_BUF_ReadException&) {
    return kAccountBlobMalformed;
  }
  *identity = std::move(read);
  return 0;
}
