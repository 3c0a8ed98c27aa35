// The library's owning, exactly-sized array. Every resize obtains new storage; there is no spare
// capacity. Elements of class type are default-constructed when storage is obtained.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "zel/admintool/allocation.h"
#include "zel/admintool/exceptions.h"
#include "zel/admintool/export.h"
#include "zel/usersal/account_info.h"

// Asks any such array for its size without knowing the element type.
class ZEL_ADMINSAL_API ZEL_SimpleArrayBase {
 public:
  virtual uint32_t Count() const = 0;
  virtual uint32_t ChangeSize(uint32_t newCount) = 0;
  virtual uint32_t GetDataSize() const = 0;

 protected:
  ZEL_SimpleArrayBase() = default;
  ZEL_SimpleArrayBase(const ZEL_SimpleArrayBase&) {}
  ZEL_SimpleArrayBase& operator=(const ZEL_SimpleArrayBase&) { return *this; }
  // Not virtual: arrays are destroyed through their own type.
  ~ZEL_SimpleArrayBase() = default;
};

template <typename T>
class ZEL_SimpleArray : public ZEL_SimpleArrayBase {
  static constexpr bool kPlain = std::is_trivially_copyable_v<T>;

 public:
  ZEL_SimpleArray() = default;
  // Copy and assignment exist for arrays of plain values. A copy whose storage cannot be had
  // throws the library's bad_alloc; so does an assignment, which then leaves the target empty.
  ZEL_SimpleArray(const ZEL_SimpleArray& other) requires kPlain : ZEL_SimpleArrayBase(other) {
    copyFrom(other);
  }
  ZEL_SimpleArray& operator=(const ZEL_SimpleArray& other) requires kPlain {
    if (&other == this) return *this;
    release();
    copyFrom(other);
    return *this;
  }
  virtual ~ZEL_SimpleArray() { release(); }

  uint32_t Count() const override { return count_; }

  // Resizes to exactly newCount, keeping the first elements that both sizes hold. Answers the
  // count after the call: newCount, or 0 when storage cannot be had (the array is then empty).
  uint32_t ChangeSize(uint32_t newCount) override {
    const uint32_t oldCount = count_;
    T* old = data_;
    count_ = newCount;
    data_ = nullptr;
    if (newCount != 0) data_ = obtain(newCount);
    if (newCount != 0 && data_ == nullptr) {
      count_ = 0;
    } else {
      const uint32_t kept = newCount < oldCount ? newCount : oldCount;
      for (uint32_t i = 0; i < kept; ++i) data_[i] = old[i];
    }
    if (old != nullptr) dispose(old);
    return count_;
  }

  // The size of the array told as a 32-bit count followed by its elements.
  uint32_t GetDataSize() const override { return 4 + count_ * static_cast<uint32_t>(sizeof(T)); }

  T& operator[](uint32_t index) {
    if (data_ == nullptr || index >= count_) throw ZEL_OutOfBoundsException();
    return data_[index];
  }

  // Exchanges the contents of two arrays (for building a new array before replacing one).
  void Swap(ZEL_SimpleArray& other) noexcept {
    std::swap(count_, other.count_);
    std::swap(data_, other.data_);
  }

 private:
  static T* obtain(uint32_t count) {
    if constexpr (kPlain) {
      return zel::sal::AllocatePlainArray<T>(count);
    } else {
      return zel::sal::NewArray<T>(count);
    }
  }
  static void dispose(T* data) {
    if constexpr (kPlain) {
      zel::sal::ReleasePlain(data);
    } else {
      zel::sal::DeleteArray(data);
    }
  }
  void release() {
    if (data_ != nullptr) dispose(data_);
    data_ = nullptr;
    count_ = 0;
  }
  void copyFrom(const ZEL_SimpleArray& other) {
    if (other.count_ == 0) return;
    data_ = obtain(other.count_);
    if (data_ == nullptr) throw ::bad_alloc();
    count_ = other.count_;
    for (uint32_t i = 0; i < count_; ++i) data_[i] = other.data_[i];
  }

  uint32_t count_ = 0;
  T* data_ = nullptr;
};

extern template class ZEL_ADMINSAL_API ZEL_SimpleArray<uint64_t>;
extern template class ZEL_ADMINSAL_API ZEL_SimpleArray<UM_AccountInfo>;
