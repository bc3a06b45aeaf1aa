// The answers of `pellory serve` kept for a while: each entry lives for the
// time to live from when it was stored, and the least recently used one
// makes room when the cache is full. Safe to use from several threads.
#pragma once

#include <cstddef>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace pellory::cli::serve {

template <typename Value>
class AnswerCache {
 public:
  // `ttl_seconds` 0 (or below) keeps nothing; `capacity` is at least 1.
  AnswerCache(double ttl_seconds, size_t capacity)
      : ttl_(ttl_seconds), capacity_(capacity ? capacity : 1) {}

  bool enabled() const { return ttl_ > 0; }

  // The value stored under `key`, unless it is older than the time to live
  // at `now` (seconds on a monotonic clock); an expired entry is dropped.
  std::optional<Value> Get(const std::string& key, double now) {
    if (!enabled()) return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = index_.find(key);
    if (it == index_.end()) return std::nullopt;
    if (now - it->second->stored >= ttl_) {
      order_.erase(it->second);
      index_.erase(it);
      return std::nullopt;
    }
    order_.splice(order_.begin(), order_, it->second);
    return it->second->value;
  }

  void Put(const std::string& key, Value value, double now) {
    if (!enabled()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = index_.find(key); it != index_.end()) {
      it->second->value = std::move(value);
      it->second->stored = now;
      order_.splice(order_.begin(), order_, it->second);
      return;
    }
    if (index_.size() >= capacity_) {
      index_.erase(order_.back().key);
      order_.pop_back();
    }
    order_.push_front(Entry{key, std::move(value), now});
    index_[key] = order_.begin();
  }

  size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return index_.size();
  }

 private:
  struct Entry {
    std::string key;
    Value value;
    double stored;
  };

  const double ttl_;
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::list<Entry> order_;  // most recently used first
  std::unordered_map<std::string, typename std::list<Entry>::iterator> index_;
};

}  // namespace pellory::cli::serve
