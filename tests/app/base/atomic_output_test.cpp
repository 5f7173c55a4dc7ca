// The atomic output on both of its paths: an unnamed temporary file, and the named one that file
// systems without unnamed files use.
#include "app/base/atomic_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include "app/base/atomic_output_test_hook.h"
#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

class AtomicOutputTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { test_hooks::ForceNamedTemporaryFiles(GetParam()); }
  void TearDown() override { test_hooks::ForceNamedTemporaryFiles(false); }
};

void Put(AtomicOutput& out, const std::string& text) {
  FdWriter(out.Fd(), out.Name()).Write(text.data(), text.size());
}

TEST_P(AtomicOutputTest, CommitReplacesKeepingPermissionsAndDiscardLeavesNothing) {
  TempFolder dir;
  WriteText(dir / "f", "old");
  ASSERT_EQ(::chmod((dir / "f").c_str(), 0640), 0);
  {
    AtomicOutput out(dir / "f", 0600);
    EXPECT_TRUE(out.Replaces());
    Put(out, "discarded");
    out.Flush();  // now it has a name, whichever path it took
  }
  EXPECT_EQ(ReadText(dir / "f"), "old");
  EXPECT_EQ(ListFolder(dir.Path()), std::set<std::string>{"f"});

  AtomicOutput out(dir / "f", 0600);
  Put(out, "new");
  EXPECT_EQ(ReadText(dir / "f"), "old");
  out.Commit();
  EXPECT_EQ(ReadText(dir / "f"), "new");
  EXPECT_EQ(Mode(dir / "f"), 0640u);
  EXPECT_EQ(ListFolder(dir.Path()), std::set<std::string>{"f"});

  ::umask(022);
  AtomicOutput fresh(dir / "g", 0600);
  EXPECT_FALSE(fresh.Replaces());
  fresh.Commit();
  EXPECT_EQ(Mode(dir / "g"), 0600u);
}

TEST_P(AtomicOutputTest, RefusesWhatIsNoRegularFileAndTouchesNothing) {
  TempFolder dir;
  WriteText(dir / "real", "kept");
  ASSERT_EQ(::symlink("real", (dir / "link").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
  ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const std::string& name : std::vector<std::string>{"link", "dangling", "folder", "fifo",
                                                          "none/f", std::string(300, 'n')}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(AtomicOutput(dir / name, 0600), IoError);
  }
  EXPECT_EQ(ReadText(dir / "real"), "kept");
  EXPECT_EQ(ListFolder(dir.Path()),
            (std::set<std::string>{"real", "link", "dangling", "folder", "fifo"}));
}

INSTANTIATE_TEST_SUITE_P(Paths, AtomicOutputTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

}  // namespace
}  // namespace kryvane::test
