#include "app/recover/lists.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <iostream>
#include <istream>
#include <streambuf>

#include "app/base/file_util.h"
#include "app/base/io.h"
#include "app/recover/wordlist.h"

namespace kryvane::recover {
namespace {

// A descriptor as an input stream.
class FdInput : public std::streambuf {
 public:
  FdInput(UniqueFd fd, std::string name) : fd_(std::move(fd)), name_(std::move(name)) {}

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    for (;;) {
      const ssize_t n = ::read(fd_.Get(), buffer_.data(), buffer_.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw IoError(name_, "read", errno);
      if (n == 0) return traits_type::eof();
      setg(buffer_.data(), buffer_.data(), buffer_.data() + n);
      return traits_type::to_int_type(*gptr());
    }
  }

 private:
  UniqueFd fd_;
  std::string name_;
  std::array<char, 1 << 16> buffer_{};
};

class FdStream : public std::istream {
 public:
  FdStream(UniqueFd fd, std::string name) : std::istream(nullptr), buf_(std::move(fd), name) {
    rdbuf(&buf_);
    // The read error itself (an IoError) reaches the caller, not a quiet end of the list.
    exceptions(std::ios::badbit);
  }

 private:
  FdInput buf_;
};

// A source that owns the stream it reads once.
class OnceList : public CandidateSource {
 public:
  OnceList(std::unique_ptr<std::istream> in, RuleSet rules)
      : in_(std::move(in)), list_(*in_, std::move(rules)) {}
  std::optional<uint64_t> size() const override { return list_.size(); }
  uint64_t position() const override { return list_.position(); }
  void Seek(uint64_t p) override { list_.Seek(p); }
  bool Fill(CandidateBatch& batch, uint64_t end) override { return list_.Fill(batch, end); }
  std::unique_ptr<CandidateSource> Clone() const override { return nullptr; }

 private:
  std::unique_ptr<std::istream> in_;
  WordlistSource list_;
};

UniqueFd OpenNamed(const std::string& path, const std::atomic<bool>* cancel, bool* regular,
                   struct stat* status = nullptr) {
  OpenedSource opened = OpenSource(AT_FDCWD, path, path, true);
  if (!AwaitReadable(opened.fd.Get(), opened.status, path, cancel)) {
    throw IoError(path, "open", ECANCELED);
  }
  ClearNonBlocking(opened.fd.Get(), path);
  if (regular) *regular = S_ISREG(opened.status.st_mode);
  if (status) *status = opened.status;
  return std::move(opened.fd);
}

}  // namespace

OpenedList OpenWordlist(const std::string& path, RuleSet rules, const std::atomic<bool>* cancel) {
  OpenedList list;
  const std::string ruleCount = std::to_string(rules.size()) + " rules";
  if (path == "-") {
    list.source = std::make_unique<WordlistSource>(std::cin, std::move(rules));
    list.identity = {"wordlist", "standard input", ruleCount};
    return list;
  }
  bool regular = false;
  struct stat status {};
  UniqueFd fd = OpenNamed(path, cancel, &regular, &status);
  if (!regular) {
    list.source = std::make_unique<OnceList>(std::make_unique<FdStream>(std::move(fd), path),
                                             std::move(rules));
    list.identity = {"wordlist", "read once", ruleCount};
    return list;
  }
  // Read once to count, and again for a restore; every open is the safe one, and the first one
  // is the file checked above.
  auto first = std::make_shared<UniqueFd>(std::move(fd));
  list.source = std::make_unique<WordlistSource>(
      [path, first, cancel]() -> std::unique_ptr<std::istream> {
        UniqueFd fd = *first ? std::move(*first) : OpenNamed(path, cancel, nullptr);
        return std::make_unique<FdStream>(std::move(fd), path);
      },
      std::move(rules));
  list.identity = {"wordlist", std::to_string(status.st_size) + " bytes",
                   std::to_string(*list.source->size()) + " positions", ruleCount};
  return list;
}

RuleSet ReadRuleFile(const std::string& path, const std::atomic<bool>* cancel) {
  if (path.empty()) return {};
  FdStream in(OpenNamed(path, cancel, nullptr), path);
  return RuleSet::Parse(in);
}

}  // namespace kryvane::recover
