#include "crypto/streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

namespace kryvane {
namespace {

// A pipe delivers what its writer wrote so far; the read must keep going until the request is
// full or the writer is gone, or a cipher chain would end in the middle of the data.
TEST(FdLoops, ReadCollectsPiecesUntilFullOrEnd) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  const std::string data(10000, 'x');
  std::thread writer([&] {
    for (std::size_t at = 0; at < data.size(); at += 3000) {
      ASSERT_EQ(WriteFd(p[1], data.data() + at, std::min<std::size_t>(3000, data.size() - at)), 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(p[1]);
  });
  std::string got(8192, '\0');
  FdSource source(p[0], "pipe");
  EXPECT_EQ(source.Read(got.data(), got.size()), 8192u);
  EXPECT_EQ(source.Read(got.data(), got.size()), 10000u - 8192u);
  EXPECT_EQ(source.Read(got.data(), got.size()), 0u);
  writer.join();
  ::close(p[0]);
}

TEST(FdLoops, FailuresReportErrnoAndNameTheFile) {
  const int folder = ::open("/", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  char byte;
  int err = -1;
  EXPECT_EQ(ReadFd(folder, &byte, 1, &err), 0u);
  EXPECT_EQ(err, EISDIR);
  try {
    FdSource(folder, "the folder").Read(&byte, 1);
    ADD_FAILURE() << "no error";
  } catch (const FdStreamError& e) {
    EXPECT_EQ(e.Errno(), EISDIR);
    EXPECT_EQ(std::string(e.what()), "the folder: read: " + ErrnoText(EISDIR));
  }
  ::close(folder);

  const int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  EXPECT_EQ(WriteFd(full, "abc", 3), ENOSPC);
  EXPECT_THROW(FdSink(full, "/dev/full").Write("abc", 3), FdStreamError);
  ::close(full);
}

}  // namespace
}  // namespace kryvane
