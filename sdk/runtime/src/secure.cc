#include "zel/runtime/secure.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "zel/runtime/codes.h"
#include "zel/runtime/wire.h"

namespace {

constexpr std::size_t kMaxKeys = 8;

struct KeySlot {
  bool used = false;
  uint32_t id = 0;
  uint8_t key[zel::rt::kSecureKeySize] = {};
};

struct KeyTable {
  std::mutex mutex;
  KeySlot slots[kMaxKeys];
};

KeyTable& Keys() {
  static KeyTable table;
  return table;
}

uint32_t Rotate(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

void QuarterRound(uint32_t* s, int a, int b, int c, int d) {
  s[a] += s[b], s[d] = Rotate(s[d] ^ s[a], 16);
  s[c] += s[d], s[b] = Rotate(s[b] ^ s[c], 12);
  s[a] += s[b], s[d] = Rotate(s[d] ^ s[a], 8);
  s[c] += s[d], s[b] = Rotate(s[b] ^ s[c], 7);
}

// One 64-byte ChaCha20 block (RFC 8439, section 2.3).
void Block(const uint8_t key[32], uint32_t counter, const uint8_t nonce[12], uint8_t out[64]) {
  uint32_t state[16] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
  for (int i = 0; i < 8; ++i) state[4 + i] = zel::wire::Load<uint32_t>(key + 4 * i);
  state[12] = counter;
  for (int i = 0; i < 3; ++i) state[13 + i] = zel::wire::Load<uint32_t>(nonce + 4 * i);
  uint32_t working[16];
  std::memcpy(working, state, sizeof state);
  for (int round = 0; round < 10; ++round) {
    QuarterRound(working, 0, 4, 8, 12);
    QuarterRound(working, 1, 5, 9, 13);
    QuarterRound(working, 2, 6, 10, 14);
    QuarterRound(working, 3, 7, 11, 15);
    QuarterRound(working, 0, 5, 10, 15);
    QuarterRound(working, 1, 6, 11, 12);
    QuarterRound(working, 2, 7, 8, 13);
    QuarterRound(working, 3, 4, 9, 14);
  }
  for (int i = 0; i < 16; ++i) zel::wire::Store(out + 4 * i, working[i] + state[i]);
  ZEL_SECURE_Wipe(working, sizeof working);
  ZEL_SECURE_Wipe(state, sizeof state);
}

// XORs the keystream of (key, key ID) over the bytes; the same call both ways.
int32_t Transform(uint8_t* data, uint32_t length, uint32_t keyID) {
  if (data == nullptr && length != 0) return zel::rt::kInvalidArgument;
  uint8_t key[zel::rt::kSecureKeySize];
  {
    KeyTable& table = Keys();
    std::lock_guard<std::mutex> lock(table.mutex);
    const KeySlot* found = nullptr;
    for (const KeySlot& slot : table.slots) {
      if (slot.used && slot.id == keyID) found = &slot;
    }
    if (found == nullptr) return zel::rt::kNoKey;
    std::memcpy(key, found->key, sizeof key);
  }
  uint8_t nonce[12] = {};
  zel::wire::Store(nonce, keyID);
  uint8_t stream[64];
  for (uint32_t done = 0, counter = 1; done < length; done += 64, ++counter) {
    Block(key, counter, nonce, stream);
    const uint32_t n = length - done < 64 ? length - done : 64;
    for (uint32_t i = 0; i < n; ++i) data[done + i] ^= stream[i];
  }
  ZEL_SECURE_Wipe(stream, sizeof stream);
  ZEL_SECURE_Wipe(key, sizeof key);
  return zel::rt::kOk;
}

int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void ZEL_SECURE_Wipe(void* data, std::size_t length) {
  // Writes through a volatile pointer are never removed as dead stores.
  volatile uint8_t* bytes = static_cast<volatile uint8_t*>(data);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = 0;
}

int32_t ZEL_SECURE_SetKey(uint32_t keyID, const uint8_t* key, uint32_t length) {
  if (key == nullptr || length != zel::rt::kSecureKeySize) return zel::rt::kInvalidArgument;
  KeyTable& table = Keys();
  std::lock_guard<std::mutex> lock(table.mutex);
  KeySlot* target = nullptr;
  for (KeySlot& slot : table.slots) {
    if (slot.used && slot.id == keyID) target = &slot;
  }
  for (KeySlot& slot : table.slots) {
    if (target == nullptr && !slot.used) target = &slot;
  }
  if (target == nullptr) return zel::rt::kNoMemory;
  target->used = true;
  target->id = keyID;
  std::memcpy(target->key, key, zel::rt::kSecureKeySize);
  return zel::rt::kOk;
}

int32_t ZEL_SECURE_LoadKeyFile(uint32_t keyID, const char* path) {
  std::FILE* file = path != nullptr ? std::fopen(path, "r") : nullptr;
  if (file == nullptr) return zel::rt::kInvalidArgument;
  uint8_t key[zel::rt::kSecureKeySize] = {};
  std::size_t digits = 0;
  bool bad = false;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    if (std::isspace(c)) continue;
    const int value = HexValue(c);
    if (value < 0 || digits >= 2 * sizeof key) {
      bad = true;
      break;
    }
    key[digits / 2] = static_cast<uint8_t>(key[digits / 2] << 4 | value);
    ++digits;
  }
  std::fclose(file);
  const int32_t result = (bad || digits != 2 * sizeof key)
                             ? zel::rt::kInvalidArgument
                             : ZEL_SECURE_SetKey(keyID, key, sizeof key);
  ZEL_SECURE_Wipe(key, sizeof key);
  return result;
}

void ZEL_SECURE_ClearKeys() {
  KeyTable& table = Keys();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (KeySlot& slot : table.slots) {
    ZEL_SECURE_Wipe(slot.key, sizeof slot.key);
    slot.used = false;
  }
}

int32_t ZEL_SECURE_EncryptData(uint8_t* data, uint32_t length, uint32_t keyID) {
  return Transform(data, length, keyID);
}

int32_t ZEL_SECURE_DecryptData(uint8_t* data, uint32_t length, uint32_t keyID) {
  return Transform(data, length, keyID);
}
