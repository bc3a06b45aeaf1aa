// The counters of `pellory serve`, written in the Prometheus text
// exposition format for GET /metrics. Safe to update from several threads.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace pellory::cli::serve {

enum class Outcome { kFound, kNotFound, kTimeout, kError };

class Metrics {
 public:
  // The upper bounds (seconds) of the lookup-time histogram's buckets.
  static constexpr std::array<double, 14> kBuckets = {
      0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

  // One answered lookup and the time it took, cache hits included.
  void Lookup(Outcome outcome, double seconds);
  void CacheHit() { ++cache_hits_; }
  void CacheMiss() { ++cache_misses_; }
  void DatabaseError() { ++database_errors_; }
  void Reconnect() { ++reconnects_; }

  std::string Exposition() const;

 private:
  std::array<std::atomic<uint64_t>, 4> outcomes_{};
  std::array<std::atomic<uint64_t>, kBuckets.size()> buckets_{};  // not cumulative
  std::atomic<uint64_t> count_{0};
  std::atomic<uint64_t> sum_micros_{0};
  std::atomic<uint64_t> cache_hits_{0}, cache_misses_{0}, database_errors_{0}, reconnects_{0};
};

}  // namespace pellory::cli::serve
