// One or more filled values of every message of ours, for the table tests. Secret values are
// made of the markers below, so a test can look for them in whatever is shown.
#pragma once

#include <string>
#include <vector>

#include "zel/protocol/messages.h"

namespace zel::protocol::samples {

using Bytes = std::vector<uint8_t>;

// Text that only secret fields hold; a description that shows one of these shows a secret.
inline const std::vector<std::string> kSecretMarkers = {"Hunter2", "S3cr3t", "5a5a5a"};

template <class M>
std::vector<M> Of();

template <>
inline std::vector<CreateFolderRequest> Of() {
  return {{0x0000012100000007, ZELString(u"Reports")}, {1, ZELString(u"")}};
}
template <>
inline std::vector<RenameFolderRequest> Of() {
  return {{0x0000012100000007, ZELString(u"Quarterly \"Q1\"")}};
}
template <>
inline std::vector<DeleteFolderRequest> Of() {
  return {{0x0000012100000007}};
}
template <>
inline std::vector<MoveFolderMembersRequest> Of() {
  return {{{1, 2, 0xFFFFFFFFFFFFFFFF}, 10, 11}, {{}, 10, 11}};
}
template <>
inline std::vector<FolderOperationReply> Of() {
  return {{0, 0x0000012100000009}, {0, 0}, {static_cast<int32_t>(0x80060008u), 0}};
}

}  // namespace zel::protocol::samples
