#include "secrets/secret_key.h"

#include <sodium.h>

namespace zel::secrets {

SecretKey::SecretKey(SecretKey&& other) noexcept : bytes_(other.bytes_) { other.Wipe(); }

SecretKey& SecretKey::operator=(SecretKey&& other) noexcept {
  if (this != &other) {
    bytes_ = other.bytes_;
    other.Wipe();
  }
  return *this;
}

SecretKey SecretKey::Random() {
  SecretKey key;
  // randombytes_buf works before sodium_init too (it reads the system's source).
  randombytes_buf(key.data(), kSize);
  return key;
}

void SecretKey::Wipe() noexcept { sodium_memzero(bytes_.data(), bytes_.size()); }

}  // namespace zel::secrets
