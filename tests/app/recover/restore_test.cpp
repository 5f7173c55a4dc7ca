#include "app/recover/restore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "app/base/io.h"
#include "tests/support/temp_files.h"

namespace kryvane {
namespace {

class RestorePointTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("XDG_STATE_HOME", (dir_.Path() + "/state").c_str(), 1); }
  test::TempFolder dir_;
};

TEST_F(RestorePointTest, SavedPointLoadsBackPrivateAndWithoutCandidates) {
  const std::string folder = RestoreFolder(true);
  EXPECT_EQ(folder, dir_.Path() + "/state/kryvane/recover");
  const uint8_t head[] = {1, 2, 3};
  const std::string name = RestoreFileName(head, 3);
  EXPECT_EQ(LoadRestorePoint(folder, name), std::nullopt);

  RestorePoint point{123456789012ull, SpaceFingerprint({"mask", "95^8"}), "/tmp/a\nb.enc",
                     "mask, 1 pair"};
  SaveRestorePoint(folder, name, point);
  struct stat st {};
  ASSERT_EQ(::stat((folder + "/" + name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u);

  const auto back = LoadRestorePoint(folder, name);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->position, point.position);
  EXPECT_EQ(back->fingerprint, point.fingerprint);
  EXPECT_EQ(back->source, "/tmp/a?b.enc");  // a line end cannot start a key of its own

  // A restore point someone opened up is private again once replaced.
  ASSERT_EQ(::chmod((folder + "/" + name).c_str(), 0644), 0);
  SaveRestorePoint(folder, name, point);
  ASSERT_EQ(::stat((folder + "/" + name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  RemoveRestorePoint(folder, name);
  EXPECT_EQ(LoadRestorePoint(folder, name), std::nullopt);
  RemoveRestorePoint(folder, name);  // gone already: no failure
}

TEST_F(RestorePointTest, NamesAndFingerprintsTellSearchesApart) {
  const uint8_t a[] = {1, 2, 3}, b[] = {1, 2, 4};
  EXPECT_EQ(RestoreFileName(a, 3), RestoreFileName(a, 3));
  EXPECT_NE(RestoreFileName(a, 3), RestoreFileName(b, 3));
  EXPECT_NE(RestoreFileName(a, 3), RestoreFileName(a, 4));
  // Facts are joined unambiguously.
  EXPECT_NE(SpaceFingerprint({"ab", "c"}), SpaceFingerprint({"a", "bc"}));
  EXPECT_EQ(SpaceFingerprint({"ab", "c"}).size(), 64u);
}

TEST_F(RestorePointTest, AnythingButARestorePointIsRefusedByName) {
  const std::string folder = RestoreFolder(true);
  std::ofstream(folder + "/junk.restore") << "position=1\n";
  try {
    LoadRestorePoint(folder, "junk.restore");
    FAIL() << "junk accepted";
  } catch (const IoError& e) {
    EXPECT_EQ(std::string(e.what()), folder + "/junk.restore: read: not a restore point");
  }
  ASSERT_EQ(::symlink("junk.restore", (folder + "/link.restore").c_str()), 0);
  EXPECT_THROW(LoadRestorePoint(folder, "link.restore"), IoError);
  ASSERT_EQ(::mkfifo((folder + "/fifo.restore").c_str(), 0600), 0);
  EXPECT_THROW(LoadRestorePoint(folder, "fifo.restore"), IoError);  // and does not block
}

}  // namespace
}  // namespace kryvane
