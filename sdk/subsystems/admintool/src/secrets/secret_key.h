// A 256-bit key held in memory: wiped when destroyed, never copied implicitly.
#pragma once

#include <array>
#include <cstdint>

namespace zel::secrets {

class SecretKey {
 public:
  static constexpr uint32_t kSize = 32;

  SecretKey() = default;
  SecretKey(const SecretKey&) = delete;
  SecretKey& operator=(const SecretKey&) = delete;
  SecretKey(SecretKey&& other) noexcept;
  SecretKey& operator=(SecretKey&& other) noexcept;
  ~SecretKey() { Wipe(); }

  // A key from the system's random source.
  static SecretKey Random();

  void Wipe() noexcept;
  uint8_t* data() { return bytes_.data(); }
  const uint8_t* data() const { return bytes_.data(); }

 private:
  std::array<uint8_t, kSize> bytes_{};
};

}  // namespace zel::secrets
