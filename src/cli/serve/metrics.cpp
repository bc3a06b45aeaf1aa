#include "cli/serve/metrics.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace pellory::cli::serve {
namespace {

// A number as the exposition format writes it: shortest form, a point as
// the decimal separator whatever the locale.
std::string Number(double value) {
  char buf[32];
  auto end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general).ptr;
  return std::string(buf, end);
}

void Counter(std::string& out, const char* name, const char* help, uint64_t value) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " counter\n" + name +
         " " + std::to_string(value) + "\n";
}

}  // namespace

void Metrics::Lookup(Outcome outcome, double seconds) {
  ++outcomes_[static_cast<size_t>(outcome)];
  for (size_t i = 0; i < kBuckets.size(); ++i) {
    if (seconds <= kBuckets[i]) {
      ++buckets_[i];
      break;
    }
  }
  sum_micros_ += static_cast<uint64_t>(std::llround(std::max(seconds, 0.0) * 1e6));
  ++count_;
}

std::string Metrics::Exposition() const {
  std::string out =
      "# HELP pellory_lookups_total Lookups answered, by outcome.\n"
      "# TYPE pellory_lookups_total counter\n";
  static constexpr const char* kOutcomes[] = {"found", "not_found", "timeout", "error"};
  for (size_t i = 0; i < outcomes_.size(); ++i) {
    out += std::string("pellory_lookups_total{outcome=\"") + kOutcomes[i] + "\"} " +
           std::to_string(outcomes_[i].load()) + "\n";
  }
  out +=
      "# HELP pellory_lookup_seconds Time a lookup took to answer, cache hits included.\n"
      "# TYPE pellory_lookup_seconds histogram\n";
  // Read once, so that the buckets, the count and the sum agree with each
  // other as far as a reader can tell.
  const uint64_t count = count_.load();
  uint64_t cumulative = 0;
  for (size_t i = 0; i < kBuckets.size(); ++i) {
    cumulative += buckets_[i].load();
    out += "pellory_lookup_seconds_bucket{le=\"" + Number(kBuckets[i]) + "\"} " +
           std::to_string(std::min(cumulative, count)) + "\n";
  }
  out += "pellory_lookup_seconds_bucket{le=\"+Inf\"} " + std::to_string(count) + "\n";
  out +=
      "pellory_lookup_seconds_sum " + Number(static_cast<double>(sum_micros_.load()) / 1e6) + "\n";
  out += "pellory_lookup_seconds_count " + std::to_string(count) + "\n";
  Counter(out, "pellory_cache_hits_total", "Lookups answered from the cache.", cache_hits_);
  Counter(out, "pellory_cache_misses_total", "Lookups the cache could not answer.", cache_misses_);
  Counter(out, "pellory_database_errors_total", "Loads and searches that failed in the database.",
          database_errors_);
  Counter(out, "pellory_reconnects_total",
          "Times a worker loaded the database again after a failure.", reconnects_);
  return out;
}

}  // namespace pellory::cli::serve
