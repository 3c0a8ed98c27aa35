// Enciphering of short secrets (passwords) that travel inside events.
//
// The transform is ChaCha20 (RFC 8439) used as a keystream XORed over the bytes, in place and
// length-preserving. The 256-bit key is the farm's, set from the host's configuration
// (ZEL_SECURE_SetKey, or a key file with ZEL_SECURE_LoadKeyFile), never a constant of the
// code; the key ID (0x3A for logon passwords) selects which key and is also the nonce.
//
// What it protects against: a party that reads events on their way (or in a trace) but does not
// hold the farm key cannot read the secret, and a farm with another key cannot either.
// What it does not: the keystream depends only on the key and the key ID, so equal secrets give
// equal ciphertexts and two ciphertexts under one key reveal the XOR of their secrets; nothing
// authenticates the bytes (they can be altered or replayed unseen); anyone holding the key file
// can decipher everything. It keeps passwords out of plain sight; it is not a secure channel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zel/runtime/export.h"

namespace zel::rt {
inline constexpr uint32_t kSecureKeySize = 32;
// No key is set under the requested key ID.
inline constexpr int32_t kNoKey = static_cast<int32_t>(0x80010009u);
}  // namespace zel::rt

// Sets the key under `keyID` (exactly kSecureKeySize bytes); 0 or kInvalidArgument.
ZEL_RUNTIME_API int32_t ZEL_SECURE_SetKey(uint32_t keyID, const uint8_t* key, uint32_t length);
// Reads a key file: 64 hexadecimal digits (surrounding white space allowed). 0, or a negative
// code when the file cannot be read or holds no key.
ZEL_RUNTIME_API int32_t ZEL_SECURE_LoadKeyFile(uint32_t keyID, const char* path);
// Forgets every key.
ZEL_RUNTIME_API void ZEL_SECURE_ClearKeys();

// Enciphers / deciphers `length` bytes in place with the key under `keyID`: 0, or kNoKey (the
// bytes untouched), or kInvalidArgument.
ZEL_RUNTIME_API int32_t ZEL_SECURE_EncryptData(uint8_t* data, uint32_t length, uint32_t keyID);
ZEL_RUNTIME_API int32_t ZEL_SECURE_DecryptData(uint8_t* data, uint32_t length, uint32_t keyID);

// Overwrites `length` bytes with zeros in a way the compiler cannot leave out.
ZEL_RUNTIME_API void ZEL_SECURE_Wipe(void* data, std::size_t length);
