// Latencies of one kind of request, kept as counts in buckets 5% wide so that consoles in other
// processes can send theirs as one text line and the driver can add them up.
//
// Text form: "<bucket>:<count>" pairs separated by spaces, non-empty buckets only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zel::soak {

class Histogram {
 public:
  void Add(uint64_t micros);
  void Merge(const Histogram& other);
  uint64_t Count() const { return count_; }
  // The latency below which `fraction` of the samples lie (microseconds, the bucket's upper
  // bound, so within 5% above the true value); 0 when there are none.
  uint64_t Quantile(double fraction) const;

  std::string Encode() const;
  // False when the text is not a histogram's; *out is then unchanged.
  static bool Decode(const std::string& text, Histogram* out);

 private:
  static std::size_t BucketOf(uint64_t micros);
  static uint64_t UpperBound(std::size_t bucket);

  std::vector<uint64_t> buckets_;
  uint64_t count_ = 0;
};

}  // namespace zel::soak
