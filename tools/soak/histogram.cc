#include "histogram.h"

#include <cmath>
#include <sstream>

namespace zel::soak {
namespace {

constexpr double kGrowth = 1.05;
// 1.05^500 is about 4e10 microseconds: far beyond any timeout, so the last bucket never fills.
constexpr std::size_t kBuckets = 500;

}  // namespace

std::size_t Histogram::BucketOf(uint64_t micros) {
  if (micros <= 1) return 0;
  const auto bucket = static_cast<std::size_t>(
      std::ceil(std::log(static_cast<double>(micros)) / std::log(kGrowth)));
  return bucket < kBuckets ? bucket : kBuckets - 1;
}

uint64_t Histogram::UpperBound(std::size_t bucket) {
  return static_cast<uint64_t>(std::ceil(std::pow(kGrowth, static_cast<double>(bucket))));
}

void Histogram::Add(uint64_t micros) {
  if (buckets_.empty()) buckets_.resize(kBuckets);
  ++buckets_[BucketOf(micros)];
  ++count_;
}

void Histogram::Merge(const Histogram& other) {
  if (other.count_ == 0) return;
  if (buckets_.empty()) buckets_.resize(kBuckets);
  for (std::size_t i = 0; i < kBuckets; ++i) buckets_[i] += other.buckets_[i];
  count_ += other.count_;
}

uint64_t Histogram::Quantile(double fraction) const {
  if (count_ == 0) return 0;
  // The smallest bucket holding at least that share of the samples.
  const auto wanted = static_cast<uint64_t>(std::ceil(fraction * static_cast<double>(count_)));
  uint64_t seen = 0;
  for (std::size_t i = 0; i < kBuckets; ++i) {
    seen += buckets_[i];
    if (seen >= wanted && seen > 0) return UpperBound(i);
  }
  return UpperBound(kBuckets - 1);
}

std::string Histogram::Encode() const {
  std::ostringstream out;
  for (std::size_t i = 0; i < buckets_.size(); ++i) {
    if (buckets_[i] != 0) out << (out.tellp() > 0 ? " " : "") << i << ':' << buckets_[i];
  }
  return out.str();
}

bool Histogram::Decode(const std::string& text, Histogram* out) {
  Histogram decoded;
  decoded.buckets_.resize(kBuckets);
  std::istringstream in(text);
  std::string pair;
  while (in >> pair) {
    const auto colon = pair.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == pair.size()) return false;
    std::size_t bucket = 0, count = 0;
    try {
      std::size_t used = 0;
      bucket = std::stoul(pair.substr(0, colon), &used);
      if (used != colon) return false;
      count = std::stoul(pair.substr(colon + 1), &used);
      if (used != pair.size() - colon - 1) return false;
    } catch (...) {
      return false;
    }
    if (bucket >= kBuckets) return false;
    decoded.buckets_[bucket] += count;
    decoded.count_ += count;
  }
  *out = std::move(decoded);
  return true;
}

}  // namespace zel::soak
