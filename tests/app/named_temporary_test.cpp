// The job on the path that file systems without unnamed temporary files take: the target is
// written under a hidden name beside it, and a failure must not leave that file behind.
#include <atomic>

#include "app/base/atomic_output_test_hook.h"
#include "tests/app/job_helpers.h"
#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

class NamedTemporaryFiles : public ::testing::Test {
 protected:
  void SetUp() override { test_hooks::ForceNamedTemporaryFiles(true); }
  void TearDown() override { test_hooks::ForceNamedTemporaryFiles(false); }
};

TEST_F(NamedTemporaryFiles, FailedOrCancelledJobLeavesOnlyTheSource) {
  TempFolder dir;
  WriteFile(dir / "plain", RandomBytes(3 << 20, 21));
  std::atomic<bool> cancel{false};
  std::set<std::string> seen;
  JobRequest r = Encrypt(dir / "plain", dir / "enc", AllPairs().front());
  r.cancel = &cancel;
  r.progress = [&](uint64_t done, std::optional<uint64_t>) {
    if (done == 0) return;
    seen = ListFolder(dir.Path());
    cancel = true;
  };
  EXPECT_FALSE(RunFileJob(r).Succeeded());
  // While it ran, the new file had a name of its own: the named path was taken.
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(ListFolder(dir.Path()), std::set<std::string>{"plain"});

  // An existing target stays as it was.
  WriteText(dir / "enc", "old");
  cancel = false;
  EXPECT_FALSE(RunFileJob(r).Succeeded());
  EXPECT_EQ(ReadText(dir / "enc"), "old");
  EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{"plain", "enc"}));

  // And a job that succeeds leaves exactly its target.
  r.progress = nullptr;
  r.cancel = nullptr;
  ASSERT_TRUE(RunFileJob(r).Succeeded());
  EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{"plain", "enc"}));
}

}  // namespace
}  // namespace kryvane::test
