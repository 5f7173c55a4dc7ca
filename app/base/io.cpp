#include "app/base/io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

namespace kryvane {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

int UniqueFd::Close() {
  if (fd_ < 0) return 0;
  if (::close(Release()) != 0 && errno != EINTR) return errno;
  return 0;
}

std::size_t FdReader::Read(void* buffer, std::size_t n) {
  int err;
  const std::size_t got = ReadFd(fd_, buffer, n, &err);
  done_ += got;
  if (err != 0) throw IoError(name_, "read", err);
  return got;
}

void FdWriter::Write(const void* buffer, std::size_t n) {
  if (const int err = WriteFd(fd_, buffer, n); err != 0) throw IoError(name_, "write", err);
}

namespace {
std::atomic<unsigned> gClosedAtStart{0};
}  // namespace

bool StandardDescriptorWasClosed(int fd) {
  return fd >= 0 && fd <= 2 && (gClosedAtStart.load() & (1u << fd)) != 0;
}

void EnsureStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    gClosedAtStart.fetch_or(1u << fd);
    // The lowest free number is fd itself, since the ones below it are open by now.
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened != fd) {
      // Without /dev/null nothing safe can be done about it; refuse to run.
      ::_exit(1);
    }
  }
}

Secret ReadAllSecret(int fd, const std::string& name, std::size_t limit) {
  constexpr std::size_t kStep = 64 * 1024;
  FdReader source(fd, name);
  Secret data;
  for (;;) {
    // One byte beyond the limit tells a file of exactly the limit from a larger one.
    const std::size_t want = std::min(kStep, limit + 1 - data.size());
    const std::size_t at = data.size();
    data.Resize(at + want);
    const std::size_t got = source.Read(data.data() + at, want);
    data.Resize(at + got);
    if (data.size() > limit) {
      const std::string size = limit % (1 << 20) == 0 ? std::to_string(limit >> 20) + " MiB"
                                                      : std::to_string(limit) + " bytes";
      throw IoError(
          name, "read",
          "more than " + size + "; a passphrase, settings file or text is never that large");
    }
    if (got < want) return data;
  }
}

}  // namespace kryvane
