// Between the administrator store's values and the library's records, which carry them on the
// wire, and reading the library's request messages whole.
#pragma once

#include <cstdint>
#include <vector>

#include "zel/admintool/admin_records.h"
#include "zel/admintool/protocol/grammar.h"
#include "zel/runtime/reader.h"
#include "zel/subsystem/admin_store.h"

namespace zel::subsystem {

// The record's privileges (count values at `values`; null with 0).
std::vector<uint32_t> PrivilegesOf(uint32_t count, const uint32_t* values);
std::vector<FolderGrant> FoldersOf(const AllowedFolders& folders);
Contact ContactOf(const ZEL_ADMIN_CONTACTINFO& contact);

// Fill library records; false when the library's allocation has no storage.
bool ToRecord(const Administrator& admin, ZEL_ADMIN_USERINFO* record);
bool ToRecord(const Administrator& admin, ZEL_ADMIN_USERINFO2* record);
bool ToFolders(const std::vector<FolderGrant>& grants, AllowedFolders* folders);
void ToContact(const Contact& contact, ZEL_ADMIN_CONTACTINFO* record);

// Releases what reading a message allocated, however the handler leaves.
template <typename M>
class Released {
 public:
  explicit Released(M& message) : message_(message) {}
  Released(const Released&) = delete;
  Released& operator=(const Released&) = delete;
  ~Released() { zel::admintool::ReleaseMessage(message_); }

 private:
  M& message_;
};

// Reads a library message that must fill the rest of the request. Throws ZEL_BUF_ReadException
// (short, malformed, or no memory); the caller releases the message (Released) either way.
template <typename M>
void ReadWhole(ZEL_BUF_BufferReader& in, M& message) {
  if (zel::admintool::ReadMessage(in, message) != 0) {
    throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kNoMemory);
  }
  if (in.GetRemaining() != 0) {
    throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kMalformed);
  }
}

}  // namespace zel::subsystem
