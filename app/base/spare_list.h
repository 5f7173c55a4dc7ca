// A few wiped buffers kept for the next job instead of being handed back to the system: a batch
// runs many jobs a second, and mapping, locking and unmapping memory takes the process's
// address-space lock and interrupts every core (to flush its address cache) each time.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

namespace kryvane {

// Thread-safe; holds at most kKept items, the caller wipes what it keeps.
template <class T, std::size_t kKept>
class SpareList {
 public:
  std::optional<T> Take() {
    std::lock_guard lock(mutex_);
    if (spare_.empty()) return std::nullopt;
    T item = spare_.back();
    spare_.pop_back();
    return item;
  }
  // False when enough are kept already: the caller frees item itself.
  bool Keep(T item) {
    std::lock_guard lock(mutex_);
    if (spare_.size() >= kKept) return false;
    spare_.push_back(item);
    return true;
  }

 private:
  std::mutex mutex_;
  std::vector<T> spare_;
};

}  // namespace kryvane
