// Memory that held a passphrase or plaintext is kept for the next job rather than given back to
// the system (a batch runs many jobs a second); it must come back to that job wiped.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "app/base/io_pipeline.h"
#include "app/base/secret.h"
#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

TEST(ReusedMemory, SecretPagesComeBackWiped) {
  const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
  const char* where;
  {
    Secret held(std::string(page, 'k'));  // fills its page to the last byte
    where = held.data();
  }
  Secret next;
  next.Reserve(1);
  ASSERT_EQ(next.data(), where) << "the page was not kept for reuse; nothing here to check";
  EXPECT_EQ(std::count(next.data(), next.data() + page, 0), std::ptrdiff_t(page));
}

// Reads source through a pipeline that writes to /dev/null, transforming nothing; returns the
// first buffer's address and whether every byte the buffer can hold is zero past the data, and
// so is every byte of the other buffers of its pool (the first buffer taken is the pool's first).
struct FirstBuffer {
  const uint8_t* data = nullptr;
  bool wipedPastData = false;
  bool poolWipedPastData = false;
};
FirstBuffer Stream(const std::string& source) {
  FirstBuffer first;
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  {
    IoPipeline pipe(in, "source", out, "/dev/null", false, 8192);
    for (bool firstOne = true;; firstOne = false) {
      const IoPipeline::Buffer buffer = pipe.Take();
      if (buffer.size == 0) break;
      if (firstOne) {
        first.data = buffer.data;
        const auto zero = [](uint8_t b) { return b == 0; };
        first.wipedPastData =
            std::all_of(buffer.data + buffer.size, buffer.data + IoPipeline::kBufferSize, zero);
        first.poolWipedPastData =
            std::all_of(buffer.data + buffer.size,
                        buffer.data + IoPipeline::kBuffers * IoPipeline::kBufferSize, zero);
      }
      pipe.Put(buffer);
    }
    pipe.Finish();
  }
  ::close(in);
  ::close(out);
  return first;
}

TEST(ReusedMemory, PipelineBuffersComeBackWiped) {
  TempFolder dir;
  // One buffer's worth (read on the job's thread) and several (read on a thread of its own).
  for (const std::size_t size : {IoPipeline::kBufferSize, 3 * IoPipeline::kBufferSize + 5}) {
    SCOPED_TRACE(size);
    WriteFile(dir / "plain", Bytes(size, 0xA5));
    const FirstBuffer before = Stream(dir / "plain");
    WriteFile(dir / "short", Bytes(1, 0x5A));
    const FirstBuffer after = Stream(dir / "short");
    ASSERT_EQ(after.data, before.data) << "the buffers were not kept for reuse";
    EXPECT_TRUE(after.wipedPastData);
  }
}

// A file longer than the pool fills its buffers more than once. A buffer whose last fill was
// short, or empty at the end of the data, must still be wiped over all it held before.
TEST(ReusedMemory, PipelineBuffersAreWipedOverAllTheyEverHeld) {
  TempFolder dir;
  for (const std::size_t size : {(IoPipeline::kBuffers + 1) * IoPipeline::kBufferSize + 5,
                                 (IoPipeline::kBuffers + 2) * IoPipeline::kBufferSize}) {
    SCOPED_TRACE(size);
    WriteFile(dir / "plain", Bytes(size, 0xA5));
    const FirstBuffer before = Stream(dir / "plain");
    WriteFile(dir / "short", Bytes(1, 0x5A));
    const FirstBuffer after = Stream(dir / "short");
    ASSERT_EQ(after.data, before.data) << "the buffers were not kept for reuse";
    EXPECT_TRUE(after.poolWipedPastData);
  }
}

}  // namespace
}  // namespace kryvane::test
