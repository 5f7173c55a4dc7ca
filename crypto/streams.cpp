#include "crypto/streams.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kryvane {

std::size_t MemorySource::Read(void* buffer, std::size_t n) {
  const std::size_t take = std::min(n, data_.size() - pos_);
  if (take > 0) std::memcpy(buffer, data_.data() + pos_, take);
  pos_ += take;
  return take;
}

void MemorySink::Write(const void* buffer, std::size_t n) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  data_.insert(data_.end(), p, p + n);
}

std::size_t FdSource::Read(void* buffer, std::size_t n) {
  auto* p = static_cast<uint8_t*>(buffer);
  std::size_t done = 0;
  // Pipes and terminals deliver data in pieces; keep reading until the request is full or the
  // data ends.
  while (done < n) {
    const ssize_t got = ::read(fd_, p + done, n - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw StreamError(name_ + ": read failed: " + std::strerror(errno));
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void FdSink::Write(const void* buffer, std::size_t n) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t put = ::write(fd_, p + done, n - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      throw StreamError(name_ + ": write failed: " + std::strerror(errno));
    }
    if (put == 0) throw StreamError(name_ + ": write failed: no space written");
    done += static_cast<std::size_t>(put);
  }
}

}  // namespace kryvane
