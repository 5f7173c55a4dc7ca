#include "app/base/secret.h"

#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "app/base/spare_list.h"
#include "crypto/bytes.h"

namespace kryvane {
namespace {

std::size_t PageSize() {
  static const std::size_t size = [] {
    const long page = ::sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<std::size_t>(page) : std::size_t(4096);
  }();
  return size;
}

// Single pages, the size of nearly every secret, are kept locked for reuse once wiped (see
// SpareList): otherwise jobs on several threads queue on each other for every passphrase. Never
// destroyed, since a secret may be released on another thread while the program exits.
SpareList<char*, 64>& SparePages() {
  static auto* const pages = new SpareList<char*, 64>;
  return *pages;
}

// Whole pages of their own, so that excluding them from dumps and locking them in memory touches
// nothing else. Both are best effort: a refused lock (a low RLIMIT_MEMLOCK) is no failure.
char* MapPages(std::size_t bytes) {
  if (bytes == PageSize()) {
    if (const auto p = SparePages().Take()) return *p;
  }
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_DONTDUMP
  ::madvise(p, bytes, MADV_DONTDUMP);
#endif
  ::mlock(p, bytes);
  return static_cast<char*>(p);
}

void UnmapPages(char* p, std::size_t bytes) {
  SecureZero(p, bytes);
  if (bytes == PageSize() && SparePages().Keep(p)) return;
  ::munlock(p, bytes);
  ::munmap(p, bytes);
}

}  // namespace

void MakeProcessUndumpable() {
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

Secret::Secret(std::string_view bytes) {
  Append(bytes);
}

Secret::Secret(Secret&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

Secret& Secret::operator=(Secret&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

Secret::~Secret() {
  Release();
}

void Secret::Release() {
  if (data_ != nullptr) UnmapPages(data_, capacity_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

void Secret::Reserve(std::size_t capacity) {
  if (capacity <= capacity_) return;
  const std::size_t page = PageSize();
  const std::size_t bytes = (std::max(capacity, 2 * capacity_) + page - 1) / page * page;
  char* fresh = MapPages(bytes);
  if (size_ > 0) std::memcpy(fresh, data_, size_);
  if (data_ != nullptr) UnmapPages(data_, capacity_);
  data_ = fresh;
  capacity_ = bytes;
}

void Secret::Append(std::string_view bytes) {
  if (bytes.empty()) return;
  Reserve(size_ + bytes.size());
  std::memcpy(data_ + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
}

void Secret::Resize(std::size_t n) {
  if (n > size_) {
    Reserve(n);
    std::memset(data_ + size_, 0, n - size_);
  } else if (n < size_) {
    SecureZero(data_ + n, size_ - n);
  }
  size_ = n;
}

void Secret::Clear() {
  if (data_ != nullptr) SecureZero(data_, size_);
  size_ = 0;
}

}  // namespace kryvane
