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

std::size_t ReadFd(int fd, void* buffer, std::size_t n, int* errnum) {
  auto* p = static_cast<uint8_t*>(buffer);
  std::size_t done = 0;
  *errnum = 0;
  // Pipes and terminals deliver data in pieces; keep reading until the request is full or the
  // data ends, since a short read would end a cipher chain early.
  while (done < n) {
    const ssize_t got = ::read(fd, p + done, n - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      *errnum = errno;
      break;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

int WriteFd(int fd, const void* buffer, std::size_t n) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t put = ::write(fd, p + done, n - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (put == 0) return ENOSPC;
    done += static_cast<std::size_t>(put);
  }
  return 0;
}

namespace {
// The GNU strerror_r returns the text, possibly not in buffer; the POSIX one (other C libraries,
// such as the WebAssembly build's) fills buffer and returns 0.
[[maybe_unused]] const char* StrerrorText(const char* text, const char*) {
  return text;
}
[[maybe_unused]] const char* StrerrorText(int failed, const char* buffer) {
  return failed == 0 ? buffer : "Unknown error";
}
}  // namespace

std::string ErrnoText(int errnum) {
  char buffer[256];
  return StrerrorText(strerror_r(errnum, buffer, sizeof buffer), buffer);
}

FdStreamError::FdStreamError(const std::string& name, const char* operation, int errnum)
    : StreamError(name + ": " + operation + ": " + ErrnoText(errnum)), errno_(errnum) {}

std::size_t FdSource::Read(void* buffer, std::size_t n) {
  int err;
  const std::size_t got = ReadFd(fd_, buffer, n, &err);
  if (err != 0) throw FdStreamError(name_, "read", err);
  return got;
}

void FdSink::Write(const void* buffer, std::size_t n) {
  if (const int err = WriteFd(fd_, buffer, n); err != 0) throw FdStreamError(name_, "write", err);
}

}  // namespace kryvane
